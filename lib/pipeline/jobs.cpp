// file_jobs: the owner's side of the engine (engine.h), with a worker thread
// per job.
#include <korvane/jobs.h>

#include <memory>

#include "pipeline/engine.h"

namespace {

std::uint32_t window_for(int workers) {
    // Enough files queued that no worker runs dry while the owner reports,
    // few enough that the queue's memory stays small.
    std::uint32_t size = 64;
    while (size < 1024 && size < 32u * static_cast<std::uint32_t>(workers)) {
        size *= 2;
    }
    return size;
}

}  // namespace

using korvane::detail::jobs_state;

file_jobs::file_jobs(int workers, algorithm kind) : self(nullptr), slot_count(0) {
    workers = std::clamp(workers, 1, max_jobs);
    slot_count = window_for(workers);
    try {
        auto made = std::make_unique<jobs_state>(slot_count, kind);
        if (!made->build(workers, true)) {
            return;  // nothing could wait for results: usable() stays false
        }
        self = std::move(made);
    } catch (...) {
        // Out of memory: the workers already started were stopped as `made`
        // went; usable() stays false.
        self = nullptr;
    }
}

file_jobs::~file_jobs() = default;

bool file_jobs::usable() const {
    return self != nullptr && self->started_workers > 0;
}

void file_jobs::submit(const wchar_t* path) {
    if (self != nullptr) {
        self->submit(tail, path, nullptr);
    }
    ++tail;
}

void file_jobs::submit_unexamined(const wchar_t* path) {
    if (self != nullptr) {
        self->submit(tail, path, nullptr, true);
    }
    ++tail;
}

void file_jobs::exclude(std::uint64_t device, std::uint64_t inode) {
    if (self != nullptr) {
        self->excluded.exclude = true;
        self->excluded.device = device;
        self->excluded.inode = inode;
    }
}

void file_jobs::publish() {
    if (self != nullptr) {
        self->publish(tail);
    }
}

bool file_jobs::wait_oldest(int milliseconds) {
    return usable() && self->wait_for(head, tail, milliseconds);
}

bool file_jobs::oldest_done() const {
    return self != nullptr && tail != head && self->slot(head).done.load() != 0;
}

int file_jobs::oldest_percent() const {
    return self != nullptr ? self->slot(head).percent.load(std::memory_order_relaxed) : 0;
}

int file_jobs::oldest_status() const {
    return korvane::to_int(self != nullptr ? self->slot(head).status
                                           : korvane::status::unknown_error);
}

const unsigned char* file_jobs::oldest_digest() const {
    static const unsigned char none[digest_room] = {};
    return self != nullptr ? self->slot(head).digest : none;
}

std::uint64_t file_jobs::oldest_size() const {
    return self != nullptr ? self->slot(head).size : 0;
}

int file_jobs::oldest_shortage() const {
    return self != nullptr ? self->slot(head).shortage : 0;
}

file_jobs::left_out file_jobs::oldest_left_out() const {
    return self != nullptr ? self->slot(head).left_out : left_out::none;
}

std::uint64_t file_jobs::oldest_write_time() const {
    return self != nullptr ? self->slot(head).write_time : 0;
}

void file_jobs::pop() {
    ++head;
}

void file_jobs::stop() {
    self.reset();
}
