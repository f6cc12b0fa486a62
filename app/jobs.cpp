#include "jobs.h"

#include <korvane/config.h>
#include <korvane/hasher.h>
#include <korvane/reader.h>
#include <korvane/status.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

#include "platform/cpu.h"
#include "platform/env.h"
#include "platform/file_read.h"
#include "platform/threading.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

std::uint32_t window_for(int workers) {
    // Enough files queued that no worker runs dry while the main thread
    // reports, few enough that the queue's memory stays small.
    std::uint32_t size = 64;
    while (size < 1024 && size < 32u * static_cast<std::uint32_t>(workers)) {
        size *= 2;
    }
    return size;
}

struct aligned_delete {
    void operator()(unsigned char* p) const { ::operator delete(p, std::align_val_t(4096)); }
};

}  // namespace

// One worker thread with its own hasher, its own buffer for files of one chunk
// or less, and (once a larger file comes) its own reader thread, so that
// reading and hashing of a large file overlap as they do with one file in
// flight.
class file_jobs::worker {
  public:
    worker(file_jobs& jobs, std::unique_ptr<hasher, void (*)(hasher*)> own_hasher)
        : owner(jobs), algorithm(std::move(own_hasher)) {}
    ~worker() { join(); }
    worker(const worker&) = delete;
    worker& operator=(const worker&) = delete;

    bool start() {
        handle = platform::thread_create(&entry, this);
        return handle != nullptr;
    }
    void join() {
        if (handle != nullptr) {
            platform::thread_join(handle);
            handle = nullptr;
        }
    }

  private:
    static void entry(void* self) { static_cast<worker*>(self)->run(); }

    void run() {
        // Files come one claim at a time, but a claim is one atomic operation:
        // a worker sleeps only when the queue has run dry, not per file.
        // Several small MD5 files claimed together could go through the lanes
        // of a multi-buffer transform here.
        std::uint64_t sequence = 0;
        while (owner.claim(sequence)) {
            hash_one(owner.slot(sequence));
            owner.finish(sequence);
        }
        if (file_reader) {
            file_reader->shutdown();
            file_reader->join();
        }
    }

    void hash_one(job& work) {
        work.percent.store(0, std::memory_order_relaxed);
        work.status = 0;
        platform::file_handle file = platform::invalid_file;
        std::uint64_t size = 0;
        if (int failed = platform::open_for_hashing(work.path, file, size, &work.write_time);
            failed != 0) {
            work.status = status_from_errno(failed);
            return;
        }
        work.size = size;
        algorithm->init();
        int failed = 0;
        if (size == 0) {
            work.percent.store(100, std::memory_order_relaxed);
        } else if (size <= reader::chunk_size || !reader_ready()) {
            failed = hash_directly(work, file, size);
        } else {
            failed = hash_large(work, file, size);
        }
        algorithm->finalize();
        platform::close_file(file);
        if (failed != 0) {
            work.status = status_from_errno(failed);
            return;
        }
        const auto digest_size = static_cast<std::size_t>(algorithm->hash_size());
        std::memcpy(work.digest, algorithm->hash(),
                    std::min<std::size_t>(digest_size, digest_room));
    }

    static void set_progress(job& work, std::uint64_t done, std::uint64_t size) {
        work.percent.store(static_cast<std::int32_t>(done * 100 / size), std::memory_order_relaxed);
    }

    int hash_directly(job& work, platform::file_handle file, std::uint64_t size) {
        if (!buffer) {
            buffer.reset(static_cast<unsigned char*>(
                ::operator new(reader::chunk_size, std::align_val_t(4096), std::nothrow)));
            if (!buffer) {
                return reader::io_error;
            }
        }
        std::uint64_t offset = 0;
        while (offset < size) {
            auto length = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(size - offset, reader::chunk_size));
            if (platform::read_exact(file, buffer.get(), length, offset) != 0) {
                // Shrunk, vanished or unreadable: the caller sees a read error.
                return reader::io_error;
            }
            algorithm->update(buffer.get(), length);
            offset += length;
            set_progress(work, offset, size);
            if (owner.stopping.load(std::memory_order_relaxed) != 0) {
                return reader::io_error;  // nobody will look at this result
            }
        }
        return 0;
    }

    bool reader_ready() {
        if (!file_reader) {
            file_reader.reset(new (std::nothrow) reader());
            if (!file_reader) {
                return false;
            }
            file_reader->start();
        }
        return file_reader->state() != thread::finished;
    }

    int hash_large(job& work, platform::file_handle file, std::uint64_t size) {
        // On a disk that seeks, two large files read at once would cost far
        // more than they overlap; small files still go alongside.
        const bool exclusive = platform::on_rotational_disk(file);
        if (exclusive) {
            while (owner.large_read_busy.exchange(1) != 0) {
                if (owner.stopping.load() != 0) {
                    return reader::io_error;
                }
                platform::wait_on_word(owner.large_read_busy, 1);
            }
        }
        platform::advise_sequential(file);
        file_reader->processFile(file, size);
        const unsigned char* chunk = nullptr;
        std::uint32_t length = 0;
        std::uint64_t total = 0;
        bool abandoned = false;
        while (file_reader->wait(&chunk, &length)) {
            if (owner.stopping.load(std::memory_order_relaxed) != 0) {
                abandoned = true;
                break;
            }
            algorithm->update(chunk, length);
            total += length;
            set_progress(work, total, size);
        }
        if (abandoned) {
            // The reader may still be reading from the descriptor, which the
            // caller closes next: end the reader thread first.
            file_reader->shutdown();
            file_reader->join();
        } else {
            file_reader->closeFile();
        }
        if (exclusive) {
            owner.large_read_busy.store(0);
            platform::wake_word(owner.large_read_busy);
        }
        if (abandoned) {
            return reader::io_error;
        }
        return file_reader->error();
    }

    file_jobs& owner;
    std::unique_ptr<hasher, void (*)(hasher*)> algorithm;
    std::unique_ptr<unsigned char, aligned_delete> buffer;
    std::unique_ptr<reader> file_reader;
    void* handle = nullptr;
};

file_jobs::file_jobs(int worker_count, const hasher_source& hashers)
    : slot_count(window_for(worker_count)),
      jobs(new job[window_for(worker_count)]),
      main_event(platform::event_create()) {
    worker_count = std::clamp(worker_count, 1, max_jobs);
    if (main_event == nullptr) {
        return;  // nothing could wait for results: usable() stays false
    }
    workers.reserve(static_cast<std::size_t>(worker_count));
    for (int i = 0; i < worker_count; ++i) {
        workers.push_back(std::make_unique<worker>(*this, hashers.make()));
        if (!workers.back()->start()) {
            workers.pop_back();
            break;
        }
        ++started_workers;
    }
}

file_jobs::~file_jobs() {
    stopping.store(1);
    work_generation.fetch_add(1);
    platform::wake_word(work_generation);
    platform::wake_word(large_read_busy);
    for (auto& w : workers) {
        w->join();
    }
    workers.clear();
    platform::event_destroy(main_event);
}

void file_jobs::submit(const wchar_t* path) {
    job& work = slot(tail);
    work.path = path;
    work.status = 0;
    work.percent.store(0, std::memory_order_relaxed);
    work.done.store(0, std::memory_order_relaxed);
    ++tail;
}

void file_jobs::publish() {
    if (published.load(std::memory_order_relaxed) == tail) {
        return;
    }
    published.store(tail);
    if (sleeping_workers.load() != 0) {
        work_generation.fetch_add(1);
        platform::wake_word(work_generation);
    }
}

bool file_jobs::claim(std::uint64_t& sequence) {
    for (;;) {
        if (stopping.load() != 0) {
            return false;
        }
        std::uint64_t next = claimed.load();
        if (next < published.load()) {
            if (claimed.compare_exchange_weak(next, next + 1)) {
                sequence = next;
                return true;
            }
            continue;
        }
        // Announce the sleep before the last look: publish() stores first and
        // looks for sleepers second, so one of the two sees the other.
        const std::uint32_t generation = work_generation.load();
        sleeping_workers.fetch_add(1);
        if (claimed.load() >= published.load() && stopping.load() == 0) {
            platform::wait_on_word(work_generation, generation);
        }
        sleeping_workers.fetch_sub(1);
    }
}

void file_jobs::finish(std::uint64_t sequence) {
    slot(sequence).done.store(1);
    if (main_sleeping.load() != 0 && main_target.load() == sequence) {
        platform::event_signal(main_event);
    }
}

bool file_jobs::wait_oldest(int milliseconds) {
    if (slot(head).done.load() != 0) {
        return true;
    }
    publish();
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
        main_target.store(target);
        main_sleeping.store(1);
        if (slot(target).done.load() == 0) {
            std::uint32_t timeout = platform::wait_forever;
            if (milliseconds >= 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now())
                        .count();
                timeout = left > 0 ? static_cast<std::uint32_t>(left) : 0;
            }
            platform::event_wait(main_event, timeout);
        }
        main_sleeping.store(0);
        if (slot(head).done.load() != 0) {
            return true;
        }
        if (milliseconds >= 0 && steady::now() >= deadline) {
            return false;
        }
    }
}

int file_jobs::oldest_percent() const {
    return slot(head).percent.load(std::memory_order_relaxed);
}

int file_jobs::oldest_status() const {
    return slot(head).status;
}

const unsigned char* file_jobs::oldest_digest() const {
    return slot(head).digest;
}

std::uint64_t file_jobs::oldest_size() const { return slot(head).size; }

std::uint64_t file_jobs::oldest_write_time() const { return slot(head).write_time; }

void file_jobs::pop() {
    ++head;
}

int parse_jobs(const char* text) {
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    int value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return 0;
        }
        value = value * 10 + (*text - '0');
        if (value > max_jobs) {
            return 0;
        }
    }
    return value;
}

int parse_jobs(const wchar_t* text) {
    char narrow[8];
    std::size_t i = 0;
    for (; text != nullptr && text[i] != L'\0'; ++i) {
        if (i + 1 >= sizeof narrow || text[i] < L'0' || text[i] > L'9') {
            return 0;
        }
        narrow[i] = static_cast<char>(text[i]);
    }
    narrow[i] = '\0';
    return parse_jobs(narrow);
}

int choose_jobs(int from_command_line) {
    if (from_command_line > 0) {
        return from_command_line;
    }
    if (auto text = platform::get_environment("KORVANE_JOBS")) {
        if (int jobs = parse_jobs(text->c_str()); jobs > 0) {
            return jobs;
        }
    }
    if (int jobs = parse_jobs(static_cast<const char*>((*config::instance())["jobs"])); jobs > 0) {
        return jobs;
    }
    return std::clamp(platform::usable_cpu_count(), 1, max_jobs);
}

}  // namespace korvane::app
