// The lane feeding: a worker with a multi-stream hasher (the MD5 lanes on a
// CPU with the multi-buffer transform, the paired SHA-1/SHA-256 lanes on one
// with the SHA extensions) puts several files through its lanes together, one
// per lane, a piece of each at a time. A large file alone goes the
// single-stream way with the reader beside it (worker::hash_alone): one lane
// of many would be slower.
#ifndef KORVANE_PIPELINE_LANE_FEED_H
#define KORVANE_PIPELINE_LANE_FEED_H

#include <cstdint>
#include <memory>

#include "hash/stream_lanes.h"
#include "pipeline/engine.h"
#include "platform/file_read.h"

namespace korvane::detail {

class worker;

class lane_feed {
  public:
    // The lanes of the worker's algorithm on this CPU, or null when files
    // go one at a time (no multi-stream path, or one forced off).
    static std::unique_ptr<hash_detail::stream_lanes> lanes_for(jobs_state::algorithm kind);

    lane_feed(worker& owner_worker, std::unique_ptr<hash_detail::stream_lanes> multi);
    lane_feed(const lane_feed&) = delete;
    lane_feed& operator=(const lane_feed&) = delete;

    // Takes files until the jobs stop. False at once when there is no room
    // for the pieces (the worker then hashes one file at a time).
    bool run();

  private:
    struct stream {
        std::uint64_t sequence;
        platform::file_handle file;
        std::uint64_t size;
        std::uint64_t read;    // bytes read from the file so far
        std::uint64_t hashed;  // bytes through the lanes so far
        unsigned char* buffer;
        std::uint32_t filled;  // whole blocks of the current piece, in bytes
        std::uint32_t used;    // of those, bytes hashed
        std::uint32_t tail;    // bytes after the last whole block of the file's last piece
        int lane;
        bool finishing;        // handed to the lanes with its tail; the digest comes with a run
        bool on_seeking_disk;  // a large file on a rotational disk
        bool holds_disk;       // ... and the one large file being read from it
    };

    void fill_lanes();
    [[nodiscard]] bool admit(std::uint64_t sequence);
    [[nodiscard]] int try_admit(std::uint64_t sequence);
    void drop_streams();
    void step();
    void refill();
    void take_piece(stream& s, std::uint32_t length);
    std::size_t gather(const unsigned char** data) const;
    bool any_finishing() const;
    void advance(const unsigned char* const* data, std::size_t blocks);
    void hand_out(std::uint32_t ready);
    [[nodiscard]] int read_piece(stream& s, std::uint32_t length);
    void release_disk(stream& s);
    void end_stream(int index);

    worker& hashing;
    jobs_state& owner;
    static constexpr int max_lanes = 16;

    std::unique_ptr<hash_detail::stream_lanes> lanes;
    const int lane_count;
    aligned_buffer pieces;
    stream streams[max_lanes];
    int active = 0;
    // A file claimed for the lanes that waits for descriptors or memory.
    bool deferred = false;
    std::uint64_t deferred_sequence = 0;
};

}  // namespace korvane::detail

#endif
