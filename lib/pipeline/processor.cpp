#include <korvane/processor.h>

#include <algorithm>
#include <new>

#include <korvane/hasher.h>

#include "platform/file_read.h"
#include "status.h"

namespace platform = korvane::platform;

processor::processor()
    : thread("file"),
      stop_requested(0),
      request_path(nullptr),
      percent(0),
      open_error(0),
      direct_error(0),
      active_hasher(nullptr) {
    file_reader.start();
}

processor::~processor() {
    stop_requested.store(1);
    request_event.signal();
    file_reader.shutdown();
    file_reader.join();
    // A processor that was never started is let through its gate now; run()
    // sees the stop request on entry and returns.
    stop_thread();
}

int processor::processFile(const wchar_t* path, hasher* h) {
    if (state() == finished) {
        // Either the thread could not be created or it has ended: nobody would
        // take the request up, and complete() would wait forever.
        return korvane::to_int(korvane::status::unknown_error);
    }
    request_path = path;
    active_hasher = h;
    percent.store(0, std::memory_order_relaxed);
    request_event.signal();
    return korvane::to_int(korvane::status::ok);
}

bool processor::complete() {
    done_event.wait();
    return true;
}

bool processor::complete(int milliseconds) {
    return done_event.timedwait(milliseconds < 0 ? event::infinite
                                                 : static_cast<std::uint32_t>(milliseconds));
}

int processor::error() const {
    // The first failure of the request: opening, a read of its own, the reader's.
    int failed = open_error != 0     ? open_error
                 : direct_error != 0 ? direct_error
                                     : file_reader.error();
    return korvane::to_int(korvane::from_errno(failed));
}

void* processor::run() {
    for (;;) {
        if (stop_requested.load() != 0) {
            return nullptr;
        }
        request_event.wait();
        if (stop_requested.load() != 0) {
            return nullptr;
        }
        hash_request();
        done_event.signal();
    }
}

void processor::set_progress(std::uint64_t done, std::uint64_t size) {
    percent.store(static_cast<std::int32_t>(done * 100 / size), std::memory_order_relaxed);
}

void processor::hash_request() {
    percent.store(0, std::memory_order_relaxed);
    open_error = 0;
    direct_error = 0;
    // The reader's status of an earlier file must not show through when this
    // one never reaches the reader.
    file_reader.processFile(platform::invalid_file, 0);

    platform::file_handle file = platform::invalid_file;
    std::uint64_t size = 0;
    int failed = platform::open_for_hashing(request_path, file, size);
    if (failed != 0) {
        open_error = failed;
        return;
    }
    active_hasher->init();
    if (size == 0) {
        percent.store(100, std::memory_order_relaxed);
    } else if (size <= direct_limit || file_reader.state() == finished) {
        hash_directly(file, size);
    } else {
        hash_with_reader(file, size);
    }
    active_hasher->finalize();
    platform::close_file(file);
}

void processor::hash_with_reader(void* file, std::uint64_t size) {
    // The reader works on a second handle of the same open file, so the bytes it
    // reads are those of the file whose size was taken, whatever happens to the
    // path meanwhile. A failed duplicate shows up as the reader's read error.
    platform::file_handle second = platform::duplicate_file(file);
    if (second != platform::invalid_file) {
        platform::advise_sequential(second);
    }
    file_reader.processFile(second, size);
    const unsigned char* chunk = nullptr;
    std::uint32_t length = 0;
    std::uint64_t total = 0;
    while (file_reader.wait(&chunk, &length)) {
        active_hasher->update(chunk, length);
        total += length;
        set_progress(total, size);
    }
    file_reader.closeFile();
    platform::close_file(second);
}

void processor::hash_directly(void* file, std::uint64_t size) {
    if (!direct_buffer) {
        direct_buffer.reset(new (std::nothrow) unsigned char[reader::chunk_size]);
        if (!direct_buffer) {
            direct_error = reader::out_of_memory;
            return;
        }
    }
    std::uint64_t offset = 0;
    while (offset < size) {
        auto length =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(size - offset, reader::chunk_size));
        int failed = platform::read_exact(file, direct_buffer.get(), length, offset);
        if (failed != 0) {
            // Shrunk, vanished or unreadable: whatever the OS said, the caller
            // sees a read error.
            direct_error = reader::io_error;
            return;
        }
        active_hasher->update(direct_buffer.get(), length);
        offset += length;
        set_progress(offset, size);
    }
}
