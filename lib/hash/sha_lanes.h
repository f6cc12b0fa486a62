// Two SHA-1 or SHA-256 streams hashed together in one thread. With the x86
// SHA extensions one stream is bound by the latency of the round
// instruction, which leaves the unit idle most of the time; two independent
// streams whose rounds alternate fill it, so a pair costs little more than
// one. Like the MD5 lanes this pays off only with several files in flight:
// a single large file keeps the single-stream block function.
//
// Used as md5_lanes is (see md5_lanes.h), through hash_detail::stream_lanes:
// attach, run with whole blocks, finish with the tail, take the digest
// (20 or 32 bytes). One thread per object; nothing is exported.
#ifndef KORVANE_LIB_HASH_SHA_LANES_H
#define KORVANE_LIB_HASH_SHA_LANES_H

#include <cstddef>
#include <cstdint>

#include "hash/lane_books.h"
#include "hash/sha_paths.h"
#include "hash/stream_lanes.h"

namespace korvane::shamb {

inline constexpr int max_lanes = 2;

enum class path : int {
    single,  // the active single-stream block function, lane after lane; any CPU
    shani,   // x86-64 SHA extensions, the two lanes' rounds interleaved
};

inline constexpr int path_count = 2;

// Short lower-case name of a path, for test and benchmark labels.
const char* path_name(path p);

// Whether this build, this CPU and the OS allow `p` for `a` (SHA-1 or
// SHA-256; SHA-512 has the single path only).
bool path_supported(sha::algorithm a, path p);

// The best supported path for `a`.
path best_path(sha::algorithm a);

// The path new objects of `a` use: the best, unless a test forced one.
path active_path(sha::algorithm a);

// Makes new objects of `a` use `p`; false (nothing changed) when `p` is not
// supported. Process-wide, meant for single-threaded harnesses.
bool force_path(sha::algorithm a, path p);

// Returns new objects of `a` to the automatic choice.
void reset_path(sha::algorithm a);

class sha_lanes final : public hash_detail::stream_lanes {
  public:
    // SHA-1 or SHA-256 (anything else is taken as SHA-256) on the active path.
    explicit sha_lanes(sha::algorithm a);
    // An unsupported `p` gives the single path rather than a fault.
    sha_lanes(sha::algorithm a, path p);

    path used_path() const { return path_; }
    int lanes() const override { return max_lanes; }
    int digest_size() const override { return words_ * 4; }
    int attach() override;
    std::uint32_t run(const unsigned char* const data[], std::size_t blocks) override;
    // Any length is accepted; whole blocks in it are hashed at once.
    void finish(int lane, const unsigned char* tail, std::size_t length) override;
    std::uint32_t ready() const override;
    bool take(int lane, unsigned char* digest) override;
    void release(int lane) override;
    int free_lanes() const override;

  private:
    using pair_fn = void (*)(std::uint32_t*, const unsigned char*, std::uint32_t*,
                             const unsigned char*, std::size_t);

    void blocks(const unsigned char* const* p, std::uint32_t mask, std::size_t count);

    std::uint32_t state_[max_lanes][8];
    hash_detail::lane_books<max_lanes> books_;
    sha::algorithm algorithm_;
    path path_;
    int words_;
    pair_fn pair_;
    sha::blocks32_fn one_;
};

}  // namespace korvane::shamb

#endif
