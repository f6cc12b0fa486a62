#include "pipeline/engine.h"

#include "pipeline/worker.h"
#include "platform/threading.h"

namespace platform = korvane::platform;

namespace korvane::detail {

namespace {

// Once the process has run short, the workers hold this many files fewer than
// they could, so that the owner can still open its own (the list it writes).
constexpr std::uint32_t owner_reserve = 4;

}  // namespace

jobs_state::jobs_state(std::uint32_t slots, algorithm hashed_with)
    : slot_count(slots), kind(hashed_with) {}

bool jobs_state::build(int count, bool threads) {
    jobs = std::make_unique<job[]>(slot_count);
    owner_event = platform::event_create();
    if (owner_event == nullptr) {
        return false;  // nothing could wait for results
    }
    if (!threads) {
        request_event = platform::event_create();
        if (request_event == nullptr) {
            return false;
        }
    }
    workers.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        workers.push_back(std::make_unique<worker>(*this, threads));
        if (!workers.back()->usable() || (threads && !workers.back()->start())) {
            workers.pop_back();
            break;
        }
        ++started_workers;
    }
    return true;
}

void jobs_state::run_worker() {
    if (!workers.empty()) {
        workers.front()->run();
    }
}

void jobs_state::stop() {
    stopping.store(1);
    work_generation.fetch_add(1);
    platform::wake_word(work_generation);
    disk.wake_all();
    release_generation.fetch_add(1);
    platform::wake_word(release_generation);
    platform::event_signal(request_event);
}

jobs_state::~jobs_state() {
    stop();
    for (auto& w : workers) {
        w->join();
    }
    workers.clear();
    platform::event_destroy(owner_event);
    platform::event_destroy(request_event);
}

// --- The owner's side --------------------------------------------------------

void jobs_state::submit(std::uint64_t sequence, const wchar_t* path, hasher* with,
                        bool unexamined) {
    job& work = slot(sequence);
    work.path = path;
    work.with = with;
    work.unexamined = unexamined;
    work.left_out = file_jobs::left_out::none;
    work.status = korvane::status::ok;
    work.shortage = 0;
    work.percent.store(0, std::memory_order_relaxed);
    work.done.store(0, std::memory_order_relaxed);
}

void jobs_state::publish(std::uint64_t tail) {
    if (published.load(std::memory_order_relaxed) == tail) {
        return;
    }
    const std::uint64_t added = tail - published.load(std::memory_order_relaxed);
    published.store(tail);
    if (request_event != nullptr) {
        platform::event_signal(request_event);  // kept until the worker waits, if it is awake
        return;
    }
    if (const std::uint32_t sleepers = sleeping_workers.load(); sleepers != 0) {
        // As many workers as there are new files, and no more than leave one
        // worker on the CPU per core: a walk hands in one file at a time, and
        // waking a sleeper for each of them had dozens of threads fight over
        // one file on two cores. A worker that is awake takes files until
        // none is left, so nothing waits unseen; one that waits for the disk
        // wakes another.
        if (const std::uint32_t wake = wake_room(added, sleepers); wake != 0) {
            wake_sleepers(wake);
        }
    }
}

bool jobs_state::wait_for(std::uint64_t head, std::uint64_t tail, int milliseconds) {
    if (slot(head).done.load() != 0) {
        return true;
    }
    publish(tail);
    using steady = std::chrono::steady_clock;
    const auto deadline = steady::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    for (;;) {
        // Sleep until a file some way along is done rather than the oldest
        // alone: one wake-up then serves several results.
        const std::uint64_t in_flight = tail - head;
        std::uint64_t target = head + std::max<std::uint64_t>(in_flight / 2, 1) - 1;
        if (slot(target).done.load() != 0) {
            target = head;
        }
        owner_target.store(target);
        owner_sleeping.store(1);
        if (slot(target).done.load() == 0) {
            std::uint32_t timeout = platform::wait_forever;
            if (milliseconds >= 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now())
                        .count();
                timeout = left > 0 ? static_cast<std::uint32_t>(left) : 0;
            }
            platform::event_wait(owner_event, timeout);
        }
        owner_sleeping.store(0);
        if (slot(head).done.load() != 0) {
            return true;
        }
        if (milliseconds >= 0 && steady::now() >= deadline) {
            return false;
        }
    }
}

// --- The workers' side -------------------------------------------------------

bool jobs_state::claim(std::uint64_t& sequence) {
    for (;;) {
        if (stopping.load() != 0) {
            return false;
        }
        // With more workers on the CPU than it has cores (workers just
        // started, or back from the disk), this one sleeps although files
        // wait: the others take them.
        if (on_cpu.load() <= cpu_limit && try_claim(sequence)) {
            return true;
        }
        // Announce the sleep before the last look: publish() stores first and
        // looks for sleepers second, so one of the two sees the other. Of
        // workers that leave together, the one that would leave fewer than
        // cores on the CPU stays while files wait.
        const std::uint32_t generation = work_generation.load();
        sleeping_workers.fetch_add(1);
        const std::uint32_t left = on_cpu.fetch_sub(1) - 1;
        if ((claimed.load() >= published.load() || left >= cpu_limit) && stopping.load() == 0) {
            if (request_event != nullptr) {
                platform::event_wait(request_event, platform::wait_forever);
            } else {
                platform::wait_on_word(work_generation, generation);
            }
        }
        on_cpu.fetch_add(1);
        woke();
        sleeping_workers.fetch_sub(1);
    }
}

bool jobs_state::try_claim(std::uint64_t& sequence) {
    std::uint64_t next = claimed.load();
    while (next < published.load() && stopping.load(std::memory_order_relaxed) == 0) {
        if (claimed.compare_exchange_weak(next, next + 1)) {
            sequence = next;
            return true;
        }
    }
    return false;
}

void jobs_state::wake_sleepers(std::uint32_t count) {
    const std::int64_t now = now_ns();
    if (now - last_wake_ns.exchange(now) >= wake_trust_ns) {
        waking.store(0);  // what was on the way has arrived or never will
    }
    waking.fetch_add(count);
    work_generation.fetch_add(1);
    platform::wake_word_some(work_generation, count);
}

void jobs_state::woke() {
    // Never below zero: a worker back without a wake-up of its own (the
    // generation moved on before it slept) takes one that is on the way, and
    // the worker that wake-up reaches finds none left.
    std::uint32_t now = waking.load();
    while (now != 0 && !waking.compare_exchange_weak(now, now - 1)) {
    }
}

void jobs_state::step_aside() {
    // Counted down first, the sleepers looked at second, as in claim().
    on_cpu.fetch_sub(1);
    if (const std::uint32_t sleepers = sleeping_workers.load();
        sleepers != 0 && !nothing_waiting()) {
        if (const std::uint32_t wake = wake_room(1, sleepers); wake != 0) {
            wake_sleepers(wake);
        }
    }
}

void jobs_state::released() {
    open_files.fetch_sub(1);
    if (release_waiters.load() != 0) {
        // One descriptor came free: one waiter may have it.
        release_generation.fetch_add(1);
        platform::wake_word_some(release_generation, 1);
    }
}

void jobs_state::lower_cap() {
    const std::uint32_t held = open_files.load();
    const std::uint32_t cap = held > owner_reserve ? held - owner_reserve : 1;
    std::uint32_t now = open_cap.load();
    while (cap < now && !open_cap.compare_exchange_weak(now, cap)) {
    }
}

bool jobs_state::wait_for_release() {
    // Announce the sleep before the last look: released() counts down first
    // and looks for waiters second, so one of the two sees the other.
    const std::uint32_t generation = release_generation.load();
    release_waiters.fetch_add(1);
    const bool others_open = open_files.load() != 0 && stopping.load() == 0;
    if (others_open) {
        platform::wait_on_word(release_generation, generation);
    }
    release_waiters.fetch_sub(1);
    return others_open && stopping.load() == 0;
}

void jobs_state::finish(std::uint64_t sequence) {
    slot(sequence).done.store(1);
    if (owner_sleeping.load() != 0 && owner_target.load() == sequence) {
        platform::event_signal(owner_event);
    }
}

}  // namespace korvane::detail
