#include <korvane/reader.h>

#include <algorithm>
#include <chrono>
#include <new>

#include "platform/file_read.h"
#include "platform/threading.h"

namespace platform = korvane::platform;

namespace {

constexpr std::size_t buffer_alignment = 4096;

// A sleeping side is woken once this many slots are ready for it (or the file
// has ended), not for every one: it then works through a batch without a
// hand-off per chunk, which matters most when other processes compete for the
// cores and every wake-up goes through the scheduler.
constexpr int wake_batch = reader::slot_count / 2;

}  // namespace

reader::reader()
    : thread("reader"),
      stop_requested(0),
      file_handle(platform::invalid_file),
      file_size(0),
      read_error(0),
      read_index(0),
      free_slots(slot_count),
      bytes_remaining(0),
      buffers(nullptr),
      views{},
      lengths{} {}

reader::~reader() {
    // Normally the owner has stopped and joined the thread already; this also
    // covers a reader that was never started or never shut down.
    shutdown();
    stop_thread();
    if (buffers != nullptr) {
        ::operator delete(buffers, std::align_val_t(buffer_alignment));
    }
}

void reader::processFile(void* file, std::uint64_t size) {
    file_handle = file;
    file_size = size;
    read_index = 0;
    read_error.store(0, std::memory_order_relaxed);
    bytes_remaining.store(size, std::memory_order_relaxed);
    free_slots.store(slot_count, std::memory_order_relaxed);
    // An empty file needs no pass; not waking the reader for it also means the
    // reader never reads these fields while the next file is being handed over.
    if (size != 0) {
        work_event.signal();
    }
}

bool reader::wait(const unsigned char** chunk, std::uint32_t* length) {
    if (*chunk != nullptr) {
        read_index = (read_index + 1) % slot_count;
        int free_now = free_slots.fetch_add(1) + 1;
        if (free_now >= wake_batch) {
            unpark(producer_spot);
        }
    }
    auto chunk_or_end = [this] {
        return read_error.load() != 0 || free_slots.load() != slot_count ||
               bytes_remaining.load() == 0;
    };
    if (!chunk_or_end()) {
        park_until(consumer_spot, chunk_or_end);
    }
    if (read_error.load() == 0 && free_slots.load() < slot_count) {
        *chunk = views[read_index];
        *length = lengths[read_index];
        return true;
    }
    *chunk = nullptr;
    *length = 0;
    return false;
}

void reader::closeFile() {
    // Chunks live in the reader's own buffers, so nothing of the file stays
    // mapped or held once the consumer has stopped asking.
    file_handle = platform::invalid_file;
}

void reader::shutdown() {
    stop_requested.store(1);
    work_event.signal();
    unpark(producer_spot);
}

void* reader::run() {
    for (;;) {
        if (stop_requested.load() != 0) {
            return nullptr;
        }
        work_event.wait();
        if (stop_requested.load() != 0) {
            return nullptr;
        }
        fill_file();
    }
}

bool reader::allocate_buffers() {
    if (buffers == nullptr) {
        buffers = static_cast<unsigned char*>(::operator new (std::size_t{slot_count} * chunk_size,
                                                              std::align_val_t(buffer_alignment),
                                                              std::nothrow));
    }
    return buffers != nullptr;
}

void reader::fill_file() {
    // Everything of the file is copied into locals first. Once the last slot is
    // published the consumer may already hand over the next file, so the loop
    // must not read or write the shared fields after that point.
    void* const file = file_handle;
    std::uint64_t remaining = file_size;
    std::uint64_t offset = 0;
    int slot = 0;
    auto fail = [this](int error = io_error) {
        read_error.store(error);
        unpark(consumer_spot);
    };
    if (!allocate_buffers()) {
        fail(out_of_memory);  // the file itself may be perfectly readable
        return;
    }
    while (remaining != 0) {
        if (free_slots.load() == 0) {
            park_until(producer_spot,
                       [this] { return free_slots.load() != 0 || stop_requested.load() != 0; });
        }
        if (stop_requested.load() != 0) {
            fail();
            return;
        }
        // Never more than the bytes still expected: a file that grows meanwhile
        // cannot make the count go below zero.
        auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, chunk_size));
        unsigned char* target = buffers + static_cast<std::size_t>(slot) * chunk_size;
        if (platform::read_exact(file, target, length, offset) != 0) {
            fail();
            return;
        }
        views[slot] = target;
        lengths[slot] = length;
        remaining -= length;
        offset += length;
        slot = (slot + 1) % slot_count;
        // Publish the slot before lowering the count of bytes remaining: the
        // consumer takes "no chunk waiting and nothing remaining" as the end, so
        // the reverse order could end the file with a chunk still unseen.
        int filled = slot_count - (free_slots.fetch_sub(1) - 1);
        bytes_remaining.store(remaining);
        if (filled >= wake_batch || remaining == 0) {
            unpark(consumer_spot);
        }
    }
}

template <typename Ready>
void reader::park_until(parking& spot, Ready ready) {
    // Spin briefly: within a file the other side usually answers in well under
    // the cost of a sleep and a wake-up.
    // Spinning stops while it keeps failing: then the other side is not
    // running, and the spin would only take its time slice.
    using steady = std::chrono::steady_clock;
    ++spot.waits;
    if (spot.spin_failures < platform::spin_failures_allowed ||
        spot.waits % platform::spin_retry_every == 0) {
        const auto spin_end = steady::now() + std::chrono::nanoseconds(platform::spin_limit_ns);
        for (int i = 1;; ++i) {
            if (ready()) {
                spot.spin_failures = 0;
                return;
            }
            platform::cpu_relax();
            if ((i & 63) == 0 && steady::now() >= spin_end) {
                break;
            }
        }
        if (spot.spin_failures < 255) {
            ++spot.spin_failures;
        }
    } else if (ready()) {
        return;
    }
    for (;;) {
        // Announce the sleep before the last test: the other side changes the
        // ring first and looks for a sleeper second, so one of the two always
        // sees the other.
        const std::uint32_t generation = spot.generation.load();
        spot.sleeping.store(1);
        if (ready()) {
            spot.sleeping.store(0);
            return;
        }
        platform::wait_on_word(spot.generation, generation);
        spot.sleeping.store(0);
    }
}

void reader::unpark(parking& spot) {
    if (spot.sleeping.load() != 0) {
        spot.generation.fetch_add(1);
        platform::wake_word(spot.generation);
    }
}
