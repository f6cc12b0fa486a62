// Several files hashed at once. Worker threads take files from a queue in the
// order they were handed in; the main thread takes the results in that same
// order, so everything it reports looks as if one file at a time was hashed.
#ifndef KORVANE_APP_JOBS_H
#define KORVANE_APP_JOBS_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class hasher;

namespace korvane::app {

// Gives each worker a hasher of its own, of the kind the run uses.
class hasher_source {
  public:
    virtual ~hasher_source() = default;
    virtual std::unique_ptr<hasher, void (*)(hasher*)> make() const = 0;
};

template <typename Hasher>
class hasher_source_of final : public hasher_source {
  public:
    std::unique_ptr<hasher, void (*)(hasher*)> make() const override {
        return {new Hasher(), [](hasher* h) { delete static_cast<Hasher*>(h); }};
    }
};

// Files in flight at most: the number of workers is capped here so that the
// memory of their buffers stays bounded whatever the option says.
constexpr int max_jobs = 64;

class file_jobs {
  public:
    // The largest digest a hasher gives.
    static constexpr int digest_room = 64;

    // `workers` threads (1 to max_jobs), each with a hasher from `hashers`.
    file_jobs(int workers, const hasher_source& hashers);
    // Stops the workers: files not yet started are dropped, files being hashed
    // are abandoned, and no worker touches a path once this returns.
    ~file_jobs();
    file_jobs(const file_jobs&) = delete;
    file_jobs& operator=(const file_jobs&) = delete;

    // False when not a single worker thread could be created.
    bool usable() const { return started_workers > 0; }

    // How many files may be handed in and not yet taken back.
    std::uint32_t capacity() const { return slot_count; }
    bool has_room() const { return tail - head < slot_count; }
    bool empty() const { return tail == head; }

    // Queues a file (has_room() must hold). The path text stays the caller's
    // and must not change until the result has been taken with pop().
    // Workers see queued files only after publish().
    void submit(const wchar_t* path);
    // Lets the workers at everything submitted so far.
    void publish();

    // Waits up to `milliseconds` (negative: no limit) for the oldest file.
    // True once it is done.
    bool wait_oldest(int milliseconds);
    // Progress of the oldest file, 0 to 100.
    int oldest_percent() const;
    // The oldest file's status (0 or a negative status) and digest; only once
    // wait_oldest() has returned true.
    int oldest_status() const;
    const unsigned char* oldest_digest() const;
    // Size and last write time of the oldest file as it was hashed.
    std::uint64_t oldest_size() const;
    std::uint64_t oldest_write_time() const;
    // Takes the oldest result away.
    void pop();

  private:
    struct job {
        const wchar_t* path = nullptr;
        std::atomic<std::uint32_t> done{0};
        std::atomic<std::int32_t> percent{0};
        int status = 0;
        std::uint64_t size = 0;
        std::uint64_t write_time = 0;
        alignas(8) unsigned char digest[digest_room] = {};
    };
    class worker;

    job& slot(std::uint64_t sequence) { return jobs[sequence & (slot_count - 1)]; }
    const job& slot(std::uint64_t sequence) const { return jobs[sequence & (slot_count - 1)]; }
    // Workers: the next published file, or false when stopping.
    bool claim(std::uint64_t& sequence);
    void finish(std::uint64_t sequence);

    std::uint32_t slot_count;
    std::unique_ptr<job[]> jobs;
    std::vector<std::unique_ptr<worker>> workers;
    int started_workers = 0;

    // Main thread only.
    std::uint64_t head = 0;  // oldest file not yet popped
    std::uint64_t tail = 0;  // next sequence number to hand out

    // Shared with the workers.
    std::atomic<std::uint64_t> published{0};  // files workers may take: [claimed, published)
    std::atomic<std::uint64_t> claimed{0};
    std::atomic<std::uint32_t> stopping{0};
    // Workers sleep on this word when nothing is left to take.
    std::atomic<std::uint32_t> work_generation{0};
    std::atomic<std::uint32_t> sleeping_workers{0};
    // The main thread sleeps until the file `main_target` is done: a file some
    // way past the oldest, so that one wake-up covers several results.
    std::atomic<std::uint64_t> main_target{0};
    std::atomic<std::uint32_t> main_sleeping{0};
    void* main_event = nullptr;
    // On a disk that seeks, only one large file is read at a time.
    std::atomic<std::uint32_t> large_read_busy{0};

    friend class worker;
};

// The number of files in flight a run uses: the command line's choice when
// given (0: none), else the KORVANE_JOBS environment variable, else the
// configuration key "jobs", else every processor the process may use.
int choose_jobs(int from_command_line);

// Parses a count of jobs: decimal digits only, 1 to max_jobs. 0 when invalid.
int parse_jobs(const char* text);
int parse_jobs(const wchar_t* text);

}  // namespace korvane::app

#endif
