// The hashing worker: takes one request at a time (a path and a hasher), hashes
// the file on its own thread with the help of an embedded reader thread, keeps
// a percentage of progress and signals completion.
#ifndef KORVANE_PROCESSOR_H
#define KORVANE_PROCESSOR_H

#include <atomic>
#include <cstdint>
#include <memory>

#include <korvane/export.h>
#include <korvane/reader.h>
#include <korvane/thread.h>

class hasher;

class KORVANE_API processor : public thread {
  public:
    // Files of up to one chunk are read by the processor's own thread: waking
    // the reader for them would add two hand-offs and overlap nothing.
    static constexpr std::uint64_t direct_limit = reader::chunk_size;

    // Creates both threads and starts the reader; the owner calls start() once
    // before the first request.
    processor();
    // Called only while no request is in progress. Ends both threads, also when
    // the processor was never started.
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
    int percent_complete() const { return percent.load(std::memory_order_relaxed); }

    // Status of the completed request: 0, -3 (read error), -4 (not found),
    // -5 (access denied, also for anything but a regular file), -8, or -1.
    [[nodiscard]] int error() const;

  private:
    void* run() override;
    void hash_request();
    void hash_with_reader(void* file, std::uint64_t size);
    void hash_directly(void* file, std::uint64_t size);
    void set_progress(std::uint64_t done, std::uint64_t size);

    reader file_reader;
    std::atomic<std::int32_t> stop_requested;
    event request_event;
    const wchar_t* request_path;
    std::atomic<std::int32_t> percent;
    int open_error;
    int direct_error;  // error number of a read made by this thread itself
    hasher* active_hasher;
    event done_event;
    std::unique_ptr<unsigned char[]> direct_buffer;
};

#endif
