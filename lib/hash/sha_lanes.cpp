// The paired SHA-1/SHA-256 lanes and the choice of their path.
//
// A run splits into stretches with a fixed set of busy lanes (lane_books):
// both lanes busy go through the pair function, one alone through the
// single-stream block function the hashers use.

#include "hash/sha_lanes.h"

#include <cstring>

#include "hash/cpu_paths.h"
#include "hash/sha_bytes.h"
#include "hash/sha_constants.h"

#if KORVANE_HASH_X86
#include "hash/x86/cpu_features.h"
#include "hash/x86/sha_x86.h"
#endif

namespace korvane::shamb {
namespace {

using pair_fn = void (*)(std::uint32_t*, const unsigned char*, std::uint32_t*, const unsigned char*,
                         std::size_t);

// The fallback: one stream after the other on the active block function.
template <sha::blocks32_fn F>
void pair_in_turn(std::uint32_t* state_a, const unsigned char* a, std::uint32_t* state_b,
                  const unsigned char* b, std::size_t blocks) {
    F(state_a, a, blocks);
    F(state_b, b, blocks);
}

template <typename Fn>
using rows_of = std::array<hash_detail::cpu_path<Fn>, path_count>;

// New objects take the active path; nothing calls the active function
// itself, so the choice is made by the first object (or query).
struct sha1_kernel {
    using path = shamb::path;
    using function = pair_fn;
    static constexpr rows_of<pair_fn> rows = {{
        {"single", pair_in_turn<sha::sha1_blocks>, nullptr},
        {"shani", KORVANE_X86_PATH(sha::x86::sha1_blocks_shani_x2, sha_ni)},
    }};
    static constexpr path preference[] = {path::shani, path::single};
    static constexpr path safe = path::single;
};

struct sha256_kernel {
    using path = shamb::path;
    using function = pair_fn;
    static constexpr rows_of<pair_fn> rows = {{
        {"single", pair_in_turn<sha::sha256_blocks>, nullptr},
        {"shani", KORVANE_X86_PATH(sha::x86::sha256_blocks_shani_x2, sha_ni)},
    }};
    static constexpr path preference[] = {path::shani, path::single};
    static constexpr path safe = path::single;
};

using sha1_lookup = hash_detail::path_lookup<sha1_kernel>;
using sha256_lookup = hash_detail::path_lookup<sha256_kernel>;

// Runs `f` on the lookup of `a`; `otherwise` for SHA-512 and values outside
// the enum.
template <typename F, typename R>
R with_lookup(sha::algorithm a, F f, R otherwise) {
    switch (a) {
        case sha::algorithm::sha1:
            return f(sha1_lookup{});
        case sha::algorithm::sha256:
            return f(sha256_lookup{});
        case sha::algorithm::sha512:
            break;
    }
    return otherwise;
}

}  // namespace

const char* path_name(path p) {
    return sha256_lookup::name(p);
}

bool path_supported(sha::algorithm a, path p) {
    if (p == path::single) {
        return true;
    }
    return with_lookup(
        a, [p](auto l) { return l.supported(p); }, false);
}

path best_path(sha::algorithm a) {
    return with_lookup(
        a, [](auto l) { return l.best(); }, path::single);
}

path active_path(sha::algorithm a) {
    return with_lookup(
        a, [](auto l) { return l.active_path(); }, path::single);
}

bool force_path(sha::algorithm a, path p) {
    return with_lookup(
        a, [p](auto l) { return l.force(p); }, p == path::single);
}

void reset_path(sha::algorithm a) {
    with_lookup(
        a,
        [](auto l) {
            l.reset();
            return true;
        },
        false);
}

sha_lanes::sha_lanes(sha::algorithm a) : sha_lanes(a, shamb::active_path(a)) {}

sha_lanes::sha_lanes(sha::algorithm a, path p)
    : state_{},
      books_(max_lanes),
      algorithm_(a == sha::algorithm::sha1 ? a : sha::algorithm::sha256),
      path_(shamb::path_supported(algorithm_, p) ? p : path::single),
      words_(algorithm_ == sha::algorithm::sha1 ? 5 : 8),
      pair_(algorithm_ == sha::algorithm::sha1 ? sha1_lookup::of(path_) : sha256_lookup::of(path_)),
      one_(algorithm_ == sha::algorithm::sha1 ? sha::sha1_blocks : sha::sha256_blocks) {}

int sha_lanes::attach() {
    const int l = books_.open_free();
    if (l >= 0) {
        const std::uint32_t* initial = words_ == 5 ? sha::sha1_initial : sha::sha256_initial;
        std::memcpy(state_[l], initial, sizeof(std::uint32_t) * static_cast<unsigned>(words_));
    }
    return l;
}

// `count` blocks of every lane in `mask`.
void sha_lanes::blocks(const unsigned char* const* p, std::uint32_t mask, std::size_t count) {
    if (mask == 3u) {
        pair_(state_[0], p[0], state_[1], p[1], count);
    } else {
        const int l = mask == 1u ? 0 : 1;
        one_(state_[l], p[l], count);
    }
}

std::uint32_t sha_lanes::run(const unsigned char* const data[], std::size_t count) {
    return books_.run(data, count,
                      [this](const unsigned char* const* p, std::uint32_t mask,
                             std::size_t stretch) { blocks(p, mask, stretch); });
}

void sha_lanes::finish(int lane, const unsigned char* tail, std::size_t length) {
    if (!books_.is_open(lane)) {
        return;
    }
    if (length >= 64) {
        const std::size_t whole = length / 64;
        one_(state_[lane], tail, whole);
        books_.count_hashed(lane, static_cast<std::uint64_t>(whole) * 64);
        tail += whole * 64;
        length -= whole * 64;
    }
    books_.pad(lane, tail, length, true);
}

std::uint32_t sha_lanes::ready() const {
    return books_.ready();
}

bool sha_lanes::take(int lane, unsigned char* digest) {
    if (!books_.is_ready(lane)) {
        return false;
    }
    for (int w = 0; w < words_; ++w) {
        hash_detail::store_be32(digest + 4 * w, state_[lane][w]);
    }
    books_.release(lane);
    return true;
}

void sha_lanes::release(int lane) {
    books_.release(lane);
}

int sha_lanes::free_lanes() const {
    return books_.free_lanes();
}

}  // namespace korvane::shamb
