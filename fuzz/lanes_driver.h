// The driver of the multi-stream hashers' fuzz targets (the MD5 lanes, the
// SHA pairs): the input says when streams start, how long they are, which
// lanes take data in each run, when streams end or are dropped. Property:
// every digest taken equals the reference digest of the same bytes, and a
// lane is ready exactly when its stream was finished.
//
// Operations, a byte each, with operands from the bytes after:
//   op % 4 == 0  attach a stream: two bytes give its length (0 to 4095);
//                its bytes are the input repeated from offset op / 4
//   op % 4 == 1  run: the blocks (1 to 8) and the lanes that sit it out
//                (see `packed_run`); an open lane without a whole block left
//                is finished instead
//   op % 4 == 2  flush
//   op % 4 == 3  drop the stream on lane (next byte)
// At the end every remaining stream is fed to its end and checked.
#ifndef KORVANE_FUZZ_LANES_DRIVER_H
#define KORVANE_FUZZ_LANES_DRIVER_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "hash/stream_lanes.h"
#include "support.h"

namespace korvane::fuzz {

using bytes = std::vector<unsigned char>;

struct lanes_target {
    // The digest a lane must give for a stream's bytes.
    std::function<bytes(const bytes&)> reference;
    // The run's operand: one byte, blocks in bits 0-2 and the lanes that sit
    // it out above; otherwise a byte of blocks and two bytes of lanes.
    bool packed_run = false;
};

class lanes_driver {
  public:
    // `data` from `at` on are the operations.
    lanes_driver(hash_detail::stream_lanes& lanes, const lanes_target& target,
                 const std::uint8_t* data, std::size_t size, std::size_t at)
        : h(lanes), target(target), data(data), size(size), at(at), on_lane(h.lanes(), nullptr) {
        streams.reserve(size);  // at most one stream per input byte: pointers stay valid
    }

    void drive() {
        while (at < size) {
            const unsigned op = byte();
            switch (op % 4) {
                case 0:
                    attach(op);
                    break;
                case 1:
                    run_operands();
                    break;
                case 2:
                    check_ready(h.flush());
                    break;
                default: {
                    const int lane = static_cast<int>(byte() % h.lanes());
                    h.release(lane);
                    on_lane[lane] = nullptr;
                    break;
                }
            }
        }
        while (
            std::any_of(on_lane.begin(), on_lane.end(), [](stream* s) { return s != nullptr; })) {
            run(64, 0);
        }
        FUZZ_CHECK(h.free_lanes() == h.lanes());
    }

  private:
    struct stream {
        bytes content;
        std::size_t done = 0;
        bool finishing = false;
    };

    unsigned byte() { return at < size ? data[at++] : 0; }

    void attach(unsigned op) {
        const std::size_t length = (byte() | (byte() << 8)) % 4096;
        const int lane = h.attach();
        FUZZ_CHECK((lane < 0) == std::none_of(on_lane.begin(), on_lane.end(),
                                              [](stream* s) { return s == nullptr; }));
        if (lane < 0) {
            return;
        }
        stream& s = streams.emplace_back();
        s.content.resize(length);
        for (std::size_t i = 0; i < length; ++i) {
            s.content[i] = data[(op / 4 + i) % size];
        }
        on_lane[lane] = &s;
    }

    void run_operands() {
        if (target.packed_run) {
            const unsigned operand = byte();
            run(1 + operand % 8, operand >> 3);
            return;
        }
        const std::size_t blocks = 1 + byte() % 8;
        run(blocks, byte() | (byte() << 8));
    }

    void check_ready(std::uint32_t ready) {
        for (int l = 0; l < h.lanes(); ++l) {
            const bool is_ready = ((ready >> l) & 1u) != 0;
            FUZZ_CHECK(is_ready == (on_lane[l] != nullptr && on_lane[l]->finishing));
            if (!is_ready) {
                continue;
            }
            bytes got(static_cast<std::size_t>(h.digest_size()));
            FUZZ_CHECK(h.take(l, got.data()));
            FUZZ_CHECK(got == target.reference(on_lane[l]->content));
            on_lane[l] = nullptr;
        }
    }

    // Gives data to the lanes not in `sit_out` (finishing those at their
    // end) and runs up to `blocks` blocks.
    void run(std::size_t blocks, unsigned sit_out) {
        std::vector<const unsigned char*> in(static_cast<std::size_t>(h.lanes()), nullptr);
        for (int l = 0; l < h.lanes(); ++l) {
            stream* s = on_lane[l];
            if (s == nullptr || s->finishing || ((sit_out >> l) & 1u) != 0) {
                continue;
            }
            const std::size_t whole = (s->content.size() - s->done) / 64;
            if (whole == 0) {
                h.finish(l, s->content.data() + s->done, s->content.size() - s->done);
                s->finishing = true;
            } else {
                in[static_cast<std::size_t>(l)] = s->content.data() + s->done;
                blocks = std::min(blocks, whole);
            }
        }
        const std::uint32_t ready = h.run(in.data(), blocks);
        for (int l = 0; l < h.lanes(); ++l) {
            if (in[static_cast<std::size_t>(l)] != nullptr) {
                on_lane[l]->done += 64 * blocks;
            }
        }
        check_ready(ready);
    }

    hash_detail::stream_lanes& h;
    const lanes_target& target;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at;
    std::vector<stream> streams;
    std::vector<stream*> on_lane;
};

}  // namespace korvane::fuzz

#endif
