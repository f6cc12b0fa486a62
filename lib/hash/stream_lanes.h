// What the pipeline's lane feeding needs of a multi-stream hasher: several
// streams (files) hashed together, one per lane, each fed whole 64-byte
// blocks and ended with its tail. The MD5 lanes (md5_lanes.h) and the
// interleaved SHA-1/SHA-256 lanes (sha_lanes.h) both are one; the usage is
// described in md5_lanes.h. Internal to the library, like both of them.
#ifndef KORVANE_LIB_HASH_STREAM_LANES_H
#define KORVANE_LIB_HASH_STREAM_LANES_H

#include <cstddef>
#include <cstdint>

namespace korvane::hash_detail {

class stream_lanes {
  public:
    stream_lanes() = default;
    virtual ~stream_lanes() = default;
    stream_lanes(const stream_lanes&) = delete;
    stream_lanes& operator=(const stream_lanes&) = delete;

    // Number of lanes (at most 16).
    virtual int lanes() const = 0;
    // Bytes of a digest take() writes.
    virtual int digest_size() const = 0;
    // A new stream on a free lane; -1 when every lane is busy.
    virtual int attach() = 0;
    // Hashes `blocks` blocks from data[lane] for every open lane with a
    // non-null pointer, and the final blocks of every finishing lane;
    // returns the lanes whose digest is ready.
    virtual std::uint32_t run(const unsigned char* const data[], std::size_t blocks) = 0;
    // Ends the stream on `lane` with its last `length` bytes.
    virtual void finish(int lane, const unsigned char* tail, std::size_t length) = 0;
    // Hashes the final blocks of every finishing lane; returns ready().
    std::uint32_t flush() { return run(nullptr, 0); }
    virtual std::uint32_t ready() const = 0;
    // Copies the digest of `lane` and frees it; false if it is not ready.
    virtual bool take(int lane, unsigned char* digest) = 0;
    // Frees `lane` whatever its stage.
    virtual void release(int lane) = 0;
    virtual int free_lanes() const = 0;
};

}  // namespace korvane::hash_detail

#endif
