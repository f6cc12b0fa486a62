// The futex: the kernel compares the word and sleeps in one step, and a wake
// costs a system call only when somebody sleeps (threading.cpp counts them).
#include "platform/posix/word_wait.h"

#if KORVANE_WORD_WAIT_FUTEX

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

namespace korvane::platform::posix {
namespace {

// A futex works on the plain 32-bit value inside the atomic object.
std::uint32_t* word_address(const std::atomic<std::uint32_t>& word) {
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    return const_cast<std::uint32_t*>(reinterpret_cast<const std::uint32_t*>(&word));
}

}  // namespace

void word_wait(const std::atomic<std::uint32_t>& word, std::uint32_t expected,
               std::int64_t timeout_ns) {
    timespec relative{};
    if (timeout_ns >= 0) {
        relative.tv_sec = static_cast<time_t>(timeout_ns / 1000000000);
        relative.tv_nsec = static_cast<long>(timeout_ns % 1000000000);
    }
    ::syscall(SYS_futex, word_address(word), FUTEX_WAIT_PRIVATE, expected,
              timeout_ns >= 0 ? &relative : nullptr, nullptr, 0);
}

void word_wake(const std::atomic<std::uint32_t>& word, int count) {
    ::syscall(SYS_futex, word_address(word), FUTEX_WAKE_PRIVATE, count, nullptr, nullptr, 0);
}

}  // namespace korvane::platform::posix

#endif
