// Sleeping until another thread changes a 32-bit word: the one primitive the
// events and word waits of threading.cpp are built on. Linux has it in the
// kernel (a futex, word_wait_linux.cpp); other POSIX systems get a table of
// condition variables (word_wait_portable.cpp). Each file compiles to nothing
// where the other one applies.
#ifndef KORVANE_PLATFORM_POSIX_WORD_WAIT_H
#define KORVANE_PLATFORM_POSIX_WORD_WAIT_H

#include <atomic>
#include <cstdint>

// Linux uses its futex unless a build asks for the portable version (to test
// it where the futex exists).
#if defined(__linux__) && !defined(KORVANE_PORTABLE_WORD_WAIT)
#define KORVANE_WORD_WAIT_FUTEX 1
#else
#define KORVANE_WORD_WAIT_FUTEX 0
#endif

namespace korvane::platform::posix {

// Sleeps while `word` holds `expected`, at most `timeout_ns` nanoseconds
// (negative: no limit). May return early, spuriously; callers test again.
void word_wait(const std::atomic<std::uint32_t>& word, std::uint32_t expected,
               std::int64_t timeout_ns);

// Wakes up to `count` threads sleeping on `word` (the portable version may
// wake more; they then find their condition unchanged and sleep again).
void word_wake(const std::atomic<std::uint32_t>& word, int count);

}  // namespace korvane::platform::posix

#endif
