// The multi-lane MD5 object and the choice of its width. The lanes' stages,
// the stretches of a run and the padding are the shared lane_books.

#include "hash/md5_lanes.h"

#include <cstring>

#include "hash/cpu_paths.h"
#include "hash/md5_transform.h"

#if KORVANE_HASH_X86
#include "hash/x86/cpu_features.h"
#include "hash/x86/md5_lanes_x86.h"
#endif

namespace korvane::md5mb {
namespace {

constexpr std::uint32_t initial_state[4] = {0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u};

using transform_fn = void (*)(std::uint32_t (*state)[max_lanes], const unsigned char* const* data,
                              std::uint32_t mask, std::size_t blocks);

// The fallback: each lane in turn on the single-stream transform.
void blocks_single(std::uint32_t (*state)[max_lanes], const unsigned char* const* data,
                   std::uint32_t mask, std::size_t blocks) {
    for (int l = 0; l < max_lanes; ++l) {
        if (((mask >> l) & 1u) == 0) {
            continue;
        }
        std::uint32_t s[4] = {state[0][l], state[1][l], state[2][l], state[3][l]};
        hash_detail::md5_blocks(s, data[l], blocks);
        for (int w = 0; w < 4; ++w) {
            state[w][l] = s[w];
        }
    }
}

// New objects take the active path; nothing calls the active function
// itself, so the choice is made by the first object (or query) instead.
struct kernel {
    using path = md5mb::path;
    using function = transform_fn;
    static constexpr std::array<hash_detail::cpu_path<transform_fn>, path_count> rows = {{
        {"single", blocks_single, nullptr},
        {"avx2", KORVANE_X86_PATH(x86::blocks_avx2, avx2)},
        {"avx512", KORVANE_X86_PATH(x86::blocks_avx512, avx512)},
    }};
    static constexpr path preference[] = {path::avx512, path::avx2, path::single};
    static constexpr path safe = path::single;
};

using lookup = hash_detail::path_lookup<kernel>;

void store_le32(unsigned char* out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

}  // namespace

const char* path_name(path p) {
    return lookup::name(p);
}

bool path_supported(path p) {
    return lookup::supported(p);
}

int lane_count(path p) {
    return p == path::avx512 ? 16 : 8;
}

path best_path() {
    return lookup::best();
}

path active_path() {
    return lookup::active_path();
}

bool force_path(path p) {
    return lookup::force(p);
}

void reset_path() {
    lookup::reset();
}

md5_lanes::md5_lanes() : md5_lanes(active_path()) {}

md5_lanes::md5_lanes(path p)
    : state_{}, path_(path_supported(p) ? p : path::single), books_(lane_count(path_)) {}

int md5_lanes::attach() {
    const int l = books_.open_free();
    if (l >= 0) {
        for (int w = 0; w < 4; ++w) {
            state_[w][l] = initial_state[w];
        }
    }
    return l;
}

std::uint32_t md5_lanes::run(const unsigned char* const data[], std::size_t blocks) {
    const transform_fn transform = lookup::of_supported(path_);
    return books_.run(
        data, blocks,
        [this, transform](const unsigned char* const* p, std::uint32_t mask, std::size_t stretch) {
            transform(state_, p, mask, stretch);
        });
}

void md5_lanes::finish(int lane, const unsigned char* tail, std::size_t length) {
    if (!books_.is_open(lane)) {
        return;
    }
    if (length >= 64) {
        const std::size_t whole = length / 64;
        std::uint32_t s[4] = {state_[0][lane], state_[1][lane], state_[2][lane], state_[3][lane]};
        hash_detail::md5_blocks(s, tail, whole);
        for (int w = 0; w < 4; ++w) {
            state_[w][lane] = s[w];
        }
        books_.count_hashed(lane, static_cast<std::uint64_t>(whole) * 64);
        tail += whole * 64;
        length -= whole * 64;
    }
    books_.pad(lane, tail, length, false);
}

std::uint32_t md5_lanes::ready() const {
    return books_.ready();
}

bool md5_lanes::take(int lane, unsigned char* digest) {
    if (!books_.is_ready(lane)) {
        return false;
    }
    for (int w = 0; w < 4; ++w) {
        store_le32(digest + 4 * w, state_[w][lane]);
    }
    books_.release(lane);
    return true;
}

void md5_lanes::release(int lane) {
    books_.release(lane);
}

int md5_lanes::free_lanes() const {
    return books_.free_lanes();
}

}  // namespace korvane::md5mb
