// Multi-lane MD5 driven by the input: the width, when streams start, how long
// they are, which lanes take data in each run, when streams end or are
// dropped. Property: every digest taken equals the single-stream MD5 of the
// same bytes, and a lane is ready exactly when its stream was finished.
//
// Input: byte 0 picks the width (an unsupported one gives the single-stream
// path). Then operations, a byte each, with operands from the bytes after:
//   op % 4 == 0  attach a stream: two bytes give its length (0 to 4095);
//                its bytes are the input repeated from offset op / 4
//   op % 4 == 1  run: one byte gives the blocks (1 to 8), two bytes the lanes
//                that sit it out; an open lane without a whole block left is
//                finished instead
//   op % 4 == 2  flush
//   op % 4 == 3  drop the stream on lane (next byte)
// At the end every remaining stream is fed to its end and checked.
#include <korvane/hasher.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "hash/md5_lanes.h"
#include "support.h"

using korvane::md5mb::md5_lanes;
using korvane::md5mb::path;

namespace {

struct stream {
    std::vector<unsigned char> bytes;
    std::size_t done = 0;
    bool finishing = false;
};

struct cursor {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    bool more() const { return at < size; }
    unsigned byte() { return at < size ? data[at++] : 0; }
};

void check_ready(md5_lanes& h, std::uint32_t ready, std::vector<stream*>& lanes) {
    for (int l = 0; l < h.lanes(); ++l) {
        const bool is_ready = ((ready >> l) & 1u) != 0;
        FUZZ_CHECK(is_ready == (lanes[l] != nullptr && lanes[l]->finishing));
        if (!is_ready) {
            continue;
        }
        std::array<unsigned char, 16> got{};
        std::array<unsigned char, 16> want{};
        FUZZ_CHECK(h.take(l, got.data()));
        md5_context ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, lanes[l]->bytes.data(), static_cast<std::uint32_t>(lanes[l]->bytes.size()));
        MD5Final(want.data(), &ctx);
        FUZZ_CHECK(got == want);
        lanes[l] = nullptr;
    }
}

// Gives data to the lanes not in `sit_out` (finishing those at their end) and
// runs up to `blocks` blocks.
void run(md5_lanes& h, std::vector<stream*>& lanes, std::size_t blocks, unsigned sit_out) {
    const unsigned char* data[korvane::md5mb::max_lanes] = {};
    for (int l = 0; l < h.lanes(); ++l) {
        stream* s = lanes[l];
        if (s == nullptr || s->finishing || ((sit_out >> l) & 1u) != 0) {
            continue;
        }
        const std::size_t whole = (s->bytes.size() - s->done) / 64;
        if (whole == 0) {
            h.finish(l, s->bytes.data() + s->done, s->bytes.size() - s->done);
            s->finishing = true;
        } else {
            data[l] = s->bytes.data() + s->done;
            blocks = std::min(blocks, whole);
        }
    }
    const std::uint32_t ready = h.run(data, blocks);
    for (int l = 0; l < h.lanes(); ++l) {
        if (data[l] != nullptr) {
            lanes[l]->done += 64 * blocks;
        }
    }
    check_ready(h, ready, lanes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    cursor in{data, size};
    md5_lanes h(static_cast<path>(in.byte() % korvane::md5mb::path_count));
    std::vector<stream> streams;
    streams.reserve(size);  // at most one stream per input byte: pointers stay valid
    std::vector<stream*> lanes(h.lanes(), nullptr);
    while (in.more()) {
        const unsigned op = in.byte();
        switch (op % 4) {
            case 0: {
                const std::size_t length = (in.byte() | (in.byte() << 8)) % 4096;
                const int lane = h.attach();
                FUZZ_CHECK((lane < 0) == std::none_of(lanes.begin(), lanes.end(),
                                                      [](stream* s) { return s == nullptr; }));
                if (lane < 0) {
                    break;
                }
                stream& s = streams.emplace_back();
                s.bytes.resize(length);
                for (std::size_t i = 0; i < length; ++i) {
                    s.bytes[i] = data[(op / 4 + i) % size];
                }
                lanes[lane] = &s;
                break;
            }
            case 1: {
                const std::size_t blocks = 1 + in.byte() % 8;
                const unsigned sit_out = in.byte() | (in.byte() << 8);
                run(h, lanes, blocks, sit_out);
                break;
            }
            case 2:
                check_ready(h, h.flush(), lanes);
                break;
            default: {
                const int lane = static_cast<int>(in.byte() % h.lanes());
                h.release(lane);
                lanes[lane] = nullptr;
                break;
            }
        }
    }
    while (std::any_of(lanes.begin(), lanes.end(), [](stream* s) { return s != nullptr; })) {
        run(h, lanes, 64, 0);
    }
    FUZZ_CHECK(h.free_lanes() == h.lanes());
    return 0;
}
