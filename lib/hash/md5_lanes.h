// Several MD5 streams hashed together, one stream per lane of a vector
// register: 16 lanes with AVX-512, 8 with AVX2, and the single-stream
// transform (lanes hashed one after another) everywhere else. MD5 itself is a
// chain that cannot be split, so the lanes pay off only when several streams
// (files) are in flight. Each lane runs at the speed of one MD5 chain, so an
// object with a single busy lane is still about as fast as md5hasher with
// AVX-512 (about 0.7 of it with AVX2); from two busy lanes on it is faster.
//
// Usage, from one thread per object (objects share nothing):
//
//   korvane::md5mb::md5_lanes lanes;            // the fastest width here
//   const int lane = lanes.attach();            // a new stream; -1: all busy
//
//   // Each call hashes `blocks` whole 64-byte blocks on every lane whose
//   // pointer is set, all lanes together; null pointers sit the call out.
//   const unsigned char* data[korvane::md5mb::max_lanes] = {};
//   data[lane] = next_bytes_of_that_stream;     // 64 * blocks readable bytes
//   std::uint32_t ready = lanes.run(data, blocks);
//
//   // At its end a stream hands over the bytes after its last whole block
//   // (0 to 63; an empty stream: attach, then finish with length 0). The
//   // padding block(s) are hashed with the next run() or flush(), beside the
//   // other lanes' data, so streams end at different times at no extra cost.
//   lanes.finish(lane, tail, tail_length);
//   ready |= lanes.flush();                     // or the next run()
//
//   // `ready` has bit `lane` set once the digest is there; take() copies it
//   // and frees the lane for the next stream. release() drops a stream (a
//   // read error) without a digest, at any stage.
//   unsigned char digest[16];
//   lanes.take(lane, digest);
//
// The data pointers are used only during the call; finish() copies the tail.
// Nothing here is exported from the shared library: code outside it (the
// program's front end, tests, benchmarks) links the static korvane_hash_static.
#ifndef KORVANE_LIB_HASH_MD5_LANES_H
#define KORVANE_LIB_HASH_MD5_LANES_H

#include <cstddef>
#include <cstdint>

#include "hash/lane_books.h"
#include "hash/stream_lanes.h"

namespace korvane::md5mb {

inline constexpr int max_lanes = 16;

enum class path : int {
    single,  // the single-stream transform, lane after lane; any CPU
    avx2,    // 8 lanes in 256-bit registers
    avx512,  // 16 lanes in 512-bit registers
};

inline constexpr int path_count = 3;

// Short lower-case name of a path, for test and benchmark labels.
const char* path_name(path p);

// Whether this build, this CPU and the OS's saved register state allow `p`.
bool path_supported(path p);

// Number of lanes of an object on path `p`.
int lane_count(path p);

// The widest supported path.
path best_path();

// The path new objects use: the best, unless a test or benchmark forced one.
path active_path();

// Makes new objects use `p`; false (nothing changed) when `p` is not
// supported. Process-wide, meant for single-threaded harnesses.
bool force_path(path p);

// Returns new objects to the automatic choice.
void reset_path();

class md5_lanes final : public hash_detail::stream_lanes {
  public:
    md5_lanes();
    // An unsupported `p` gives the single-stream path rather than a fault.
    explicit md5_lanes(path p);

    path used_path() const { return path_; }
    int lanes() const override { return books_.lanes(); }
    int digest_size() const override { return 16; }

    // Starts a stream on a free lane and returns the lane, or -1 when every
    // lane is busy (open, finishing, or holding a digest not yet taken).
    int attach() override;

    // Hashes `blocks` 64-byte blocks from data[lane] for every open lane with
    // a non-null pointer, and the final blocks of every finishing lane.
    // `data` may be null (no lane has data) and has lanes() entries
    // otherwise; pointers of lanes that are not open are ignored. Returns the
    // lanes whose digest is ready (bit i: lane i), including earlier ones not
    // yet taken.
    std::uint32_t run(const unsigned char* const data[], std::size_t blocks) override;

    // Ends the stream on `lane` with its last `length` bytes. Any length is
    // accepted; whole blocks in it are hashed at once on the single-stream
    // transform, so callers should pass fewer than 64 bytes.
    void finish(int lane, const unsigned char* tail, std::size_t length) override;

    // Lanes whose digest is ready.
    std::uint32_t ready() const override;

    // Copies the digest of `lane` and frees it; false (nothing copied) if
    // the digest is not ready.
    bool take(int lane, unsigned char* digest) override;

    // Frees `lane` whatever its stage.
    void release(int lane) override;

    // Number of lanes attach() can still hand out.
    int free_lanes() const override;

  private:
    alignas(64) std::uint32_t state_[4][max_lanes];
    path path_;
    hash_detail::lane_books<max_lanes> books_;
};

}  // namespace korvane::md5mb

#endif
