#include "looks.h"

#include "platform/threading.h"

namespace korvane::app {

namespace {

// Looks in flight at most: enough to keep the helpers busy across the
// asker's other work, little memory.
constexpr std::size_t look_slots = 1024;
// Handed over in batches: a wake-up is a system call.
constexpr std::uint64_t publish_every = 32;
// How often the asker checks a look a helper is making before it sleeps.
constexpr int spins = 2000;

}  // namespace

look_ahead::look_ahead(int helpers)
    : slots(look_slots), done(std::make_unique<std::atomic<std::uint32_t>[]>(look_slots)) {
    for (std::size_t i = 0; i < look_slots; ++i) {
        done[i].store(0, std::memory_order_relaxed);
    }
    for (int i = 0; i < helpers; ++i) {
        if (void* handle = platform::thread_create(&entry, this)) {
            threads.push_back(handle);
        }
    }
}

look_ahead::~look_ahead() {
    stopping.store(true);
    wake.fetch_add(1);
    platform::wake_word(wake);
    for (void* handle : threads) {
        platform::thread_join(handle);
    }
}

void look_ahead::entry(void* self) {
    static_cast<look_ahead*>(self)->help();
}

bool look_ahead::claim(std::uint64_t& index) {
    std::uint64_t next = claimed.load();
    while (next < published.load(std::memory_order_acquire)) {
        if (claimed.compare_exchange_weak(next, next + 1)) {
            index = next;
            return true;
        }
    }
    return false;
}

void look_ahead::answer(std::uint64_t index) {
    const std::size_t at = index % slots.size();
    file_look& look = slots[at];
    look.error = platform::get_file_info(look.path.c_str(), look.info);
    done[at].store(1, std::memory_order_release);
    if (asker_waits.load() != 0) {
        platform::wake_word(done[at]);
    }
}

void look_ahead::help() {
    std::uint64_t index = 0;
    while (!stopping.load()) {
        if (claim(index)) {
            answer(index);
            continue;
        }
        const std::uint32_t seen = wake.load();
        sleepers.fetch_add(1);
        // Looked at again after saying so: a hand-over between the first look
        // and the count would otherwise wake nobody.
        if (!stopping.load() && !claim(index)) {
            platform::wait_on_word(wake, seen);
            sleepers.fetch_sub(1);
            continue;
        }
        sleepers.fetch_sub(1);
        if (!stopping.load()) {
            answer(index);
        }
    }
}

void look_ahead::publish() {
    if (published.load(std::memory_order_relaxed) == tail) {
        return;
    }
    published.store(tail, std::memory_order_release);
    wake.fetch_add(1);
    if (sleepers.load() != 0) {
        platform::wake_word(wake);
    }
}

void look_ahead::submit() {
    done[tail % slots.size()].store(0, std::memory_order_relaxed);
    ++tail;
    if (threads.empty()) {
        return;  // the asker answers each look as it takes it
    }
    if (tail - published.load(std::memory_order_relaxed) >= publish_every) {
        publish();
    }
}

file_look& look_ahead::oldest() {
    const std::size_t at = head % slots.size();
    if (threads.empty()) {
        if (done[at].load(std::memory_order_relaxed) == 0) {
            answer(head);
        }
        return slots[at];
    }
    publish();
    std::uint64_t index = 0;
    // Looks not yet taken are taken here, oldest first, until this one is
    // answered; one a helper is making is waited for.
    while (done[at].load(std::memory_order_acquire) == 0) {
        if (claim(index)) {
            answer(index);
            continue;
        }
        for (int i = 0; i < spins && done[at].load(std::memory_order_acquire) == 0; ++i) {
            platform::cpu_relax();
        }
        if (done[at].load(std::memory_order_acquire) != 0) {
            break;
        }
        asker_waits.fetch_add(1);
        if (done[at].load() == 0) {
            platform::wait_on_word(done[at], 0);
        }
        asker_waits.fetch_sub(1);
    }
    return slots[at];
}

void look_ahead::pop() {
    ++head;
}

}  // namespace korvane::app
