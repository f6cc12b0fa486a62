// The hashing worker: takes one request at a time (a path and a hasher), hashes
// the file on its own thread with the help of a reader thread for large files,
// keeps a percentage of progress and signals completion. It is file_jobs'
// engine with one worker, run on this thread, and the caller's hasher.
#ifndef KORVANE_PROCESSOR_H
#define KORVANE_PROCESSOR_H

#include <cstdint>
#include <memory>

#include <korvane/export.h>
#include <korvane/reader.h>
#include <korvane/thread.h>

class hasher;

namespace korvane::detail {
struct jobs_state;
}

class KORVANE_API processor : public thread {
  public:
    // Files of up to one chunk are read by the processor's own thread: waking
    // the reader for them would add two hand-offs and overlap nothing.
    static constexpr std::uint64_t direct_limit = reader::chunk_size;

    // Creates the thread; the owner calls start() once before the first
    // request.
    processor();
    // Ends the threads, also when the processor was never started. A request
    // still in progress is abandoned: its hasher is left part-fed, and neither
    // it nor the path is touched once this returns.
    ~processor() override;

    // Hands over a request and returns 0 at once; the outcome is read through
    // error() once completion has been reported. `path` and `h` stay the
    // processor's until then. Returns -1 (and takes nothing over) when the
    // processor's thread could not be created.
    [[nodiscard]] int processFile(const wchar_t* path, hasher* h);

    // Waits for the completion of the current request; exactly one successful
    // call per request.
    bool complete();
    // As complete(), for at most `milliseconds` (-1: no limit).
    bool complete(int milliseconds);

    // Progress of the current request, 0 to 100; readable at any time.
    int percent_complete() const;

    // Status of the completed request: 0, -3 (read error), -4 (not found),
    // -5 (access denied, also for anything but a regular file), -8, or -1.
    [[nodiscard]] int error() const;

  private:
    void* run() override;

    // Null when even the bookkeeping could not be allocated.
    std::unique_ptr<korvane::detail::jobs_state> engine;
    std::uint64_t requests = 0;  // handed over so far; the current one is requests - 1
    bool awaiting = false;       // the current request's completion is not yet reported
};

#endif
