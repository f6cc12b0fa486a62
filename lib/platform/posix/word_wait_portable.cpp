// Word waits for POSIX systems without a futex: the address picks one of a
// fixed set of mutex and condition-variable pairs. A waiter tests the word
// under the pair's mutex and a waker takes that mutex before it notifies, so a
// change made before the wake is never missed: either the waiter sees the new
// value, or it already sleeps when the notification comes.
#include "platform/posix/word_wait.h"

#if !KORVANE_WORD_WAIT_FUTEX

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace korvane::platform::posix {
namespace {

struct bucket {
    std::mutex lock;
    std::condition_variable changed;
};

// Words that share a bucket only wake each other spuriously.
bucket& bucket_of(const std::atomic<std::uint32_t>& word) {
    static bucket buckets[64];
    const auto address = reinterpret_cast<std::uintptr_t>(&word);
    return buckets[(address >> 4) % (sizeof buckets / sizeof buckets[0])];
}

}  // namespace

void word_wait(const std::atomic<std::uint32_t>& word, std::uint32_t expected,
               std::int64_t timeout_ns) {
    bucket& b = bucket_of(word);
    std::unique_lock<std::mutex> held(b.lock);
    if (word.load(std::memory_order_relaxed) != expected) {
        return;
    }
    if (timeout_ns < 0) {
        b.changed.wait(held);
    } else {
        b.changed.wait_for(held, std::chrono::nanoseconds(timeout_ns));
    }
}

void word_wake(const std::atomic<std::uint32_t>& word, int) {
    bucket& b = bucket_of(word);
    { const std::lock_guard<std::mutex> held(b.lock); }
    b.changed.notify_all();
}

}  // namespace korvane::platform::posix

#endif
