#include "platform/threading.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <new>

#include "platform/posix/word_wait.h"

namespace korvane::platform {

namespace {

using steady = std::chrono::steady_clock;
using posix::word_wait;
using posix::word_wake;

struct thread_record {
    pthread_t id;
    thread_entry entry;
    void* argument;
};

void* thread_start(void* record) {
    auto* self = static_cast<thread_record*>(record);
    self->entry(self->argument);
    return nullptr;
}

// The event is one word: bit 0 is the signal, the bits above count sleepers,
// so that a signal costs a system call only when somebody actually sleeps. A
// signal is one atomic operation on that word and reads nothing of the event
// afterwards: a waiter released by it may destroy the event at once.
struct word_event {
    static constexpr std::uint32_t signal_bit = 1;
    static constexpr std::uint32_t one_sleeper = 2;

    std::atomic<std::uint32_t> word{0};
    // Waiters of one event take turns in practice; the policy only steers how
    // long they spin, so a rare overlap costs a little spinning, nothing more.
    std::atomic<std::uint32_t> spin_failures{0};
    std::atomic<std::uint32_t> spin_waits{0};

    bool try_consume() {
        std::uint32_t value = word.load(std::memory_order_relaxed);
        while ((value & signal_bit) != 0) {
            if (word.compare_exchange_weak(value, value & ~signal_bit, std::memory_order_acquire,
                                           std::memory_order_relaxed)) {
                return true;
            }
        }
        return false;
    }
};

// Spins a little for the signal: the hand-offs of the pipeline usually
// complete within microseconds, and a sleep and wake-up costs more than that.
// Spinning stops while it keeps failing (see spin_failures_allowed). Returns
// true when the signal was taken.
bool spin_for_signal(word_event& self, steady::time_point start) {
    const std::uint32_t failures = self.spin_failures.load(std::memory_order_relaxed);
    const std::uint32_t waits = self.spin_waits.fetch_add(1, std::memory_order_relaxed) + 1;
    if (failures >= spin_failures_allowed && waits % spin_retry_every != 0) {
        return false;
    }
    const auto spin_end = start + std::chrono::nanoseconds(spin_limit_ns);
    for (int i = 1;; ++i) {
        if (self.try_consume()) {
            self.spin_failures.store(0, std::memory_order_relaxed);
            return true;
        }
        cpu_relax();
        if ((i & 63) == 0 && steady::now() >= spin_end) {
            break;
        }
    }
    if (failures < 255) {
        self.spin_failures.store(failures + 1, std::memory_order_relaxed);
    }
    return false;
}

// Sleeps as one of the event's sleepers until the signal comes (taken on the
// way out) or the timeout counted from `start` runs out.
bool sleep_for_signal(word_event& self, steady::time_point start, std::uint32_t timeout_ms) {
    const bool forever = timeout_ms == wait_forever;
    const auto deadline = start + std::chrono::milliseconds(timeout_ms);
    std::uint32_t value = self.word.fetch_add(word_event::one_sleeper, std::memory_order_relaxed) +
                          word_event::one_sleeper;
    for (;;) {
        if ((value & word_event::signal_bit) != 0) {
            // Take the signal and leave the sleepers in one step.
            if (self.word.compare_exchange_weak(
                    value, value - word_event::signal_bit - word_event::one_sleeper,
                    std::memory_order_acquire, std::memory_order_relaxed)) {
                return true;
            }
            continue;
        }
        std::int64_t left_ns = -1;
        if (!forever) {
            const auto now = steady::now();
            if (now >= deadline) {
                self.word.fetch_sub(word_event::one_sleeper, std::memory_order_relaxed);
                return false;
            }
            left_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count();
        }
        // Sleeps only while the word is unchanged, so a signal between the test
        // above and this call is never missed.
        word_wait(self.word, value, left_ns);
        value = self.word.load(std::memory_order_relaxed);
    }
}

}  // namespace

void* thread_create(thread_entry entry, void* argument) {
    auto* record = new (std::nothrow) thread_record{pthread_t{}, entry, argument};
    if (record == nullptr) {
        return nullptr;
    }
    // Signals from outside go to the main thread only: it is the one that
    // holds them back while a list is written, and it must see every one that
    // arrives then. A handler run on another thread could set its mark after
    // the main thread had looked, and the signal would be lost. The faults a
    // thread causes itself stay its own.
    sigset_t outside;
    sigset_t previous;
    sigfillset(&outside);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS}) {
        sigdelset(&outside, fault);
    }
    ::pthread_sigmask(SIG_BLOCK, &outside, &previous);
    const int created = ::pthread_create(&record->id, nullptr, &thread_start, record);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (created != 0) {
        delete record;
        return nullptr;
    }
    return record;
}

void thread_join(void* handle) {
    auto* record = static_cast<thread_record*>(handle);
    ::pthread_join(record->id, nullptr);
    delete record;
}

void thread_detach(void* handle) {
    auto* record = static_cast<thread_record*>(handle);
    ::pthread_detach(record->id);
    delete record;
}

void* event_create() {
    return new (std::nothrow) word_event;
}

void event_destroy(void* event) {
    delete static_cast<word_event*>(event);
}

void event_signal(void* event) {
    auto* self = static_cast<word_event*>(event);
    if (self == nullptr) {
        return;
    }
    std::uint32_t before = self->word.fetch_or(word_event::signal_bit, std::memory_order_acq_rel);
    if (before >= word_event::one_sleeper) {
        // Only the address is used from here on; a wake on memory that was
        // freed meanwhile wakes nobody or causes a spurious wake-up, which every
        // waiter tolerates.
        word_wake(self->word, 1);
    }
}

bool event_wait(void* event, std::uint32_t timeout_ms) {
    auto* self = static_cast<word_event*>(event);
    if (self == nullptr) {
        return false;
    }
    if (self->try_consume()) {
        return true;
    }
    if (timeout_ms == 0) {
        return false;
    }
    const auto start = steady::now();
    if (spin_for_signal(*self, start)) {
        return true;
    }
    return sleep_for_signal(*self, start, timeout_ms);
}

void wait_on_word(const std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    word_wait(word, expected, -1);
}

void wake_word(const std::atomic<std::uint32_t>& word) {
    word_wake(word, 0x7FFFFFFF);
}

void wake_word_some(const std::atomic<std::uint32_t>& word, std::uint32_t count) {
    word_wake(word, static_cast<int>(std::min<std::uint32_t>(count, 0x7FFFFFFF)));
}

}  // namespace korvane::platform
