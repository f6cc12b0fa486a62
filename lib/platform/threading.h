// Threads and waiting. Every blocking wait of the pipeline ends up here, so that
// each target can use the cheapest primitive it has (a futex on Linux,
// condition variables on other POSIX systems; on Windows event objects and
// WaitOnAddress).
#ifndef KORVANE_PLATFORM_THREADING_H
#define KORVANE_PLATFORM_THREADING_H

#include <atomic>
#include <cstdint>

namespace korvane::platform {

// Time-out value that waits without limit.
constexpr std::uint32_t wait_forever = 0xFFFFFFFFu;

// --- Threads -------------------------------------------------------------

using thread_entry = void (*)(void* argument);

// Starts `entry(argument)` on a new OS thread. Returns an opaque handle, or null
// when the thread could not be created.
void* thread_create(thread_entry entry, void* argument);

// Waits until the thread has ended and releases the handle. Call exactly once
// per handle, and never together with thread_detach.
void thread_join(void* handle);

// Releases the handle without waiting; the thread cleans up after itself when it
// ends. Used by a thread that destroys its own object.
void thread_detach(void* handle);

// --- Auto-reset events ---------------------------------------------------

// An unnamed auto-reset event, initially not signalled. Returns null when the
// event could not be created; the other calls accept null and then do nothing
// (a wait on it fails).
void* event_create();
void event_destroy(void* event);
void event_signal(void* event);
// Waits up to `timeout_ms` milliseconds (wait_forever: no limit; 0: only test)
// and consumes the signal. True when the event was signalled.
bool event_wait(void* event, std::uint32_t timeout_ms);

// --- Waiting on a word ---------------------------------------------------

// Sleeps while `word` holds `expected`, until wake_word is called on it. May
// return early without a wake-up; callers test their condition again.
void wait_on_word(const std::atomic<std::uint32_t>& word, std::uint32_t expected);
// Wakes every thread sleeping in wait_on_word on `word`.
void wake_word(const std::atomic<std::uint32_t>& word);
// Wakes at most `count` of them (some targets may wake more): when one new
// item of work arrives for many sleepers, the others stay asleep instead of
// all waking to find nothing.
void wake_word_some(const std::atomic<std::uint32_t>& word, std::uint32_t count);

// A pause for a busy-wait loop, telling the CPU that it spins.
inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// How long a waiter spins before it goes to sleep, in nanoseconds. A hand-off
// that completes within this time costs no system call on either side; 50 us
// covers opening, reading and hashing a small file (MD5 of 4 KiB takes ~5 us),
// which a 10 us spin did not, and halved the time of runs over many small files.
constexpr std::int64_t spin_limit_ns = 50000;

// Waiters stop spinning after three spins in a row that ended in sleep, and
// then try again only on every sixteenth wait: spinning pays off only while the
// other side runs on another core, and when other processes hold the cores a
// spinner takes the very time slice its partner needs.
constexpr std::uint32_t spin_failures_allowed = 3;
constexpr std::uint32_t spin_retry_every = 16;

}  // namespace korvane::platform

#endif
