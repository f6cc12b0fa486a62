// What a multi-stream hasher keeps of each lane besides the hash state: the
// lane's stage, the bytes hashed, and the padding blocks a finished stream
// still has to run. The MD5 lanes and the SHA pairs share it; they differ
// only in the state, the block function and the byte order of the length.
//
// A run splits into stretches with a fixed set of busy lanes: finishing
// lanes have one or two padding blocks, open lanes the caller's common
// count. Each stretch is one call of the block function with a lane mask, so
// a lane that ends early simply drops out of the mask.
#ifndef KORVANE_LIB_HASH_LANE_BOOKS_H
#define KORVANE_LIB_HASH_LANE_BOOKS_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace korvane::hash_detail {

template <int N>
class lane_books {
  public:
    // `lanes` of the N are in use.
    explicit lane_books(int lanes) : lanes_(lanes) {}

    int lanes() const { return lanes_; }

    // Opens a free lane with nothing hashed yet and returns it; -1 when every
    // lane is busy (open, finishing, or holding a digest not yet taken).
    int open_free() {
        for (int l = 0; l < lanes_; ++l) {
            if (stage_[l] == stage::free) {
                length_[l] = 0;
                final_blocks_[l] = 0;
                stage_[l] = stage::open;
                return l;
            }
        }
        return -1;
    }

    // Hashes `count` blocks from data[lane] for every open lane with a
    // non-null pointer, and the final blocks of every finishing lane, through
    // `blocks(pointers, mask, stretch)`; returns ready().
    template <class Blocks>
    std::uint32_t run(const unsigned char* const data[], std::size_t count, Blocks blocks) {
        const unsigned char* p[N] = {};
        std::size_t left[N] = {};
        for (int l = 0; l < lanes_; ++l) {
            if (stage_[l] == stage::finishing) {
                p[l] = final_[l];
                left[l] = final_blocks_[l];
            } else if (stage_[l] == stage::open && data != nullptr && data[l] != nullptr &&
                       count != 0) {
                p[l] = data[l];
                left[l] = count;
                length_[l] += static_cast<std::uint64_t>(count) * 64;
            }
        }
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
            blocks(p, mask, stretch);
            for (int l = 0; l < lanes_; ++l) {
                if (left[l] != 0) {
                    left[l] -= stretch;
                    p[l] += 64 * stretch;
                }
            }
        }
        for (int l = 0; l < lanes_; ++l) {
            stage_[l] = stage_[l] == stage::finishing ? stage::ready : stage_[l];
        }
        return ready();
    }

    bool is_open(int lane) const { return valid(lane) && stage_[lane] == stage::open; }
    bool is_ready(int lane) const { return valid(lane) && stage_[lane] == stage::ready; }

    // Counts whole blocks the owner hashed on the lane itself.
    void count_hashed(int lane, std::uint64_t bytes) { length_[lane] += bytes; }

    // Ends the open `lane` with its tail (fewer than 64 bytes): the tail, the
    // 0x80 marker, zeros, and the length in bits (big-endian for SHA,
    // little-endian for MD5): one block if the tail leaves room for marker
    // and length (at most 55 bytes), two otherwise.
    void pad(int lane, const unsigned char* tail, std::size_t length, bool big_endian) {
        unsigned char* out = final_[lane];
        const std::size_t total = length <= 55 ? 64 : 128;
        std::memset(out, 0, total);
        if (length != 0) {
            std::memcpy(out, tail, length);
        }
        out[length] = 0x80;
        const std::uint64_t bits = (length_[lane] + length) << 3;
        for (int i = 0; i < 8; ++i) {
            out[total - 8 + (big_endian ? 7 - i : i)] = static_cast<unsigned char>(bits >> (8 * i));
        }
        final_blocks_[lane] = static_cast<unsigned char>(total / 64);
        stage_[lane] = stage::finishing;
    }

    // Lanes whose digest is ready (bit i: lane i).
    std::uint32_t ready() const {
        std::uint32_t mask = 0;
        for (int l = 0; l < lanes_; ++l) {
            if (stage_[l] == stage::ready) {
                mask |= 1u << l;
            }
        }
        return mask;
    }

    // Frees `lane` whatever its stage.
    void release(int lane) {
        if (valid(lane)) {
            stage_[lane] = stage::free;
        }
    }

    int free_lanes() const {
        return static_cast<int>(std::count(stage_, stage_ + lanes_, stage::free));
    }

  private:
    enum class stage : unsigned char { free, open, finishing, ready };

    bool valid(int lane) const { return lane >= 0 && lane < lanes_; }

    alignas(64) unsigned char final_[N][128] = {};
    std::uint64_t length_[N] = {};
    unsigned char final_blocks_[N] = {};
    stage stage_[N] = {};  // all free
    int lanes_;
};

}  // namespace korvane::hash_detail

#endif
