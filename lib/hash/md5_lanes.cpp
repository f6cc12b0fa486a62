// The multi-lane MD5 object and the choice of its width.
//
// A run splits into at most three stretches with a fixed set of busy lanes:
// finishing lanes have one or two padding blocks, open lanes the caller's
// common count. Each stretch is one call of the transform with a lane mask,
// so a lane that ends early simply drops out of the mask.

#include "hash/md5_lanes.h"

#include <algorithm>
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
    : state_{},
      final_{},
      length_{},
      final_blocks_{},
      stage_{},
      path_(path_supported(p) ? p : path::single),
      lanes_(lane_count(path_)) {
    std::fill(std::begin(stage_), std::end(stage_), stage::free);
}

int md5_lanes::attach() {
    for (int l = 0; l < lanes_; ++l) {
        if (stage_[l] == stage::free) {
            for (int w = 0; w < 4; ++w) {
                state_[w][l] = initial_state[w];
            }
            length_[l] = 0;
            final_blocks_[l] = 0;
            stage_[l] = stage::open;
            return l;
        }
    }
    return -1;
}

std::uint32_t md5_lanes::run(const unsigned char* const data[], std::size_t blocks) {
    const unsigned char* p[max_lanes] = {};
    std::size_t left[max_lanes] = {};
    for (int l = 0; l < lanes_; ++l) {
        if (stage_[l] == stage::finishing) {
            p[l] = final_[l];
            left[l] = final_blocks_[l];
        } else if (stage_[l] == stage::open && data != nullptr && data[l] != nullptr &&
                   blocks != 0) {
            p[l] = data[l];
            left[l] = blocks;
            length_[l] += static_cast<std::uint64_t>(blocks) * 64;
        }
    }
    const transform_fn transform = lookup::of_supported(path_);
    for (;;) {
        std::uint32_t mask = 0;
        std::size_t stretch = 0;
        for (int l = 0; l < lanes_; ++l) {
            if (left[l] != 0) {
                mask |= 1u << l;
                stretch = stretch == 0 ? left[l] : std::min(stretch, left[l]);
            }
        }
        if (mask == 0) {
            break;
        }
        transform(state_, p, mask, stretch);
        for (int l = 0; l < lanes_; ++l) {
            if (left[l] != 0) {
                left[l] -= stretch;
                p[l] += 64 * stretch;
            }
        }
    }
    for (int l = 0; l < lanes_; ++l) {
        if (stage_[l] == stage::finishing) {
            stage_[l] = stage::ready;
        }
    }
    return ready();
}

void md5_lanes::finish(int lane, const unsigned char* tail, std::size_t length) {
    if (lane < 0 || lane >= lanes_ || stage_[lane] != stage::open) {
        return;
    }
    if (length >= 64) {
        const std::size_t whole = length / 64;
        std::uint32_t s[4] = {state_[0][lane], state_[1][lane], state_[2][lane], state_[3][lane]};
        hash_detail::md5_blocks(s, tail, whole);
        for (int w = 0; w < 4; ++w) {
            state_[w][lane] = s[w];
        }
        length_[lane] += static_cast<std::uint64_t>(whole) * 64;
        tail += whole * 64;
        length -= whole * 64;
    }
    // The tail, the 0x80 marker, zeros up to 8 bytes before a block end, and
    // the length in bits, little-endian: one block if the tail leaves room
    // for marker and length (at most 55 bytes), two otherwise.
    unsigned char* out = final_[lane];
    const std::size_t total = length <= 55 ? 64 : 128;
    std::memset(out, 0, total);
    if (length != 0) {
        std::memcpy(out, tail, length);
    }
    out[length] = 0x80;
    const std::uint64_t bits = (length_[lane] + length) << 3;
    store_le32(out + total - 8, static_cast<std::uint32_t>(bits));
    store_le32(out + total - 4, static_cast<std::uint32_t>(bits >> 32));
    final_blocks_[lane] = static_cast<unsigned char>(total / 64);
    stage_[lane] = stage::finishing;
}

std::uint32_t md5_lanes::ready() const {
    std::uint32_t mask = 0;
    for (int l = 0; l < lanes_; ++l) {
        if (stage_[l] == stage::ready) {
            mask |= 1u << l;
        }
    }
    return mask;
}

bool md5_lanes::take(int lane, unsigned char* digest) {
    if (lane < 0 || lane >= lanes_ || stage_[lane] != stage::ready) {
        return false;
    }
    for (int w = 0; w < 4; ++w) {
        store_le32(digest + 4 * w, state_[w][lane]);
    }
    stage_[lane] = stage::free;
    return true;
}

void md5_lanes::release(int lane) {
    if (lane >= 0 && lane < lanes_) {
        stage_[lane] = stage::free;
    }
}

int md5_lanes::free_lanes() const {
    return static_cast<int>(std::count(stage_, stage_ + lanes_, stage::free));
}

}  // namespace korvane::md5mb
