// The processor: the engine of file_jobs (engine.h) with one worker, whose
// loop runs on the processor's own thread, one request in its window at a
// time, and the caller's hasher for every file.
#include <korvane/processor.h>

#include <chrono>
#include <thread>

#include "pipeline/engine.h"
#include "status.h"

using korvane::detail::jobs_state;

namespace {

// One request at a time; two slots keep a power of two for the window.
constexpr std::uint32_t request_slots = 2;

}  // namespace

processor::processor() : thread("file") {
    try {
        auto made = std::make_unique<jobs_state>(request_slots, file_jobs::algorithm::crc32);
        if (made->build(1, false) && made->started_workers == 1) {
            engine = std::move(made);
        }
    } catch (...) {
        // Out of memory: processFile() reports that nothing can be hashed.
    }
}

processor::~processor() {
    if (engine) {
        engine->stop();
    }
    // A processor that was never started is let through its gate now; run()
    // then sees the stop and returns at once.
    stop_thread();
}

void* processor::run() {
    if (engine) {
        engine->run_worker();
    }
    return nullptr;
}

int processor::processFile(const wchar_t* path, hasher* h) {
    if (state() == finished || !engine) {
        // Either the thread could not be created or it has ended: nobody would
        // take the request up, and complete() would wait forever.
        return korvane::to_int(korvane::status::unknown_error);
    }
    engine->submit(requests, path, h);
    ++requests;
    awaiting = true;
    engine->publish(requests);
    return korvane::to_int(korvane::status::ok);
}

bool processor::complete() {
    return complete(-1);
}

bool processor::complete(int milliseconds) {
    if (!awaiting) {
        // Nothing to report: the completion of the last request was taken.
        if (milliseconds > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        }
        return false;
    }
    if (!engine->wait_for(requests - 1, requests, milliseconds)) {
        return false;
    }
    awaiting = false;
    return true;
}

int processor::percent_complete() const {
    if (!engine || requests == 0) {
        return 0;
    }
    return engine->slot(requests - 1).percent.load(std::memory_order_relaxed);
}

int processor::error() const {
    if (!engine || requests == 0) {
        return korvane::to_int(korvane::status::ok);
    }
    return korvane::to_int(engine->slot(requests - 1).status);
}
