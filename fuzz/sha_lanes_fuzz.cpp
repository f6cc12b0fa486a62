// The paired SHA-1/SHA-256 lanes driven by the input: the algorithm and path,
// when streams start, how long they are, which lanes take data in each run,
// when streams end or are dropped. Property: every digest taken equals the
// portable block function's digest of the same bytes, and a lane is ready
// exactly when its stream was finished.
//
// Input: byte 0 picks the algorithm (bit 0) and the path (bit 1; an
// unsupported one gives the single path). Then operations, a byte each, with
// operands from the bytes after:
//   op % 4 == 0  attach a stream: two bytes give its length (0 to 4095);
//                its bytes are the input repeated from offset op / 4
//   op % 4 == 1  run: one byte gives the blocks (1 to 8) in bits 0-2 and the
//                lanes that sit it out in bits 3-4; an open lane without a
//                whole block left is finished instead
//   op % 4 == 2  flush
//   op % 4 == 3  drop the stream on lane (next byte)
// At the end every remaining stream is fed to its end and checked.
#include <korvane/sha.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "hash/sha_lanes.h"
#include "support.h"

namespace sha = korvane::sha;
using korvane::shamb::sha_lanes;

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

template <typename H>
std::array<unsigned char, 32> digest_with(const stream& s) {
    H h;
    h.init();
    h.update(s.bytes.data(), static_cast<std::uint32_t>(s.bytes.size()));
    h.finalize();
    std::array<unsigned char, 32> out{};
    std::copy_n(static_cast<const unsigned char*>(h.hash()), h.hash_size(), out.begin());
    return out;
}

std::array<unsigned char, 32> portable_digest(sha::algorithm a, const stream& s) {
    sha::force_path(a, sha::path::portable);
    const auto out =
        a == sha::algorithm::sha1 ? digest_with<sha1hasher>(s) : digest_with<sha256hasher>(s);
    sha::reset_path(a);
    return out;
}

void check_ready(sha::algorithm a, sha_lanes& h, std::uint32_t ready, std::vector<stream*>& lanes) {
    for (int l = 0; l < h.lanes(); ++l) {
        const bool is_ready = ((ready >> l) & 1u) != 0;
        FUZZ_CHECK(is_ready == (lanes[l] != nullptr && lanes[l]->finishing));
        if (!is_ready) {
            continue;
        }
        std::array<unsigned char, 32> got{};
        FUZZ_CHECK(h.take(l, got.data()));
        FUZZ_CHECK(got == portable_digest(a, *lanes[l]));
        lanes[l] = nullptr;
    }
}

// Gives data to the lanes not in `sit_out` (finishing those at their end) and
// runs up to `blocks` blocks.
void run(sha::algorithm a, sha_lanes& h, std::vector<stream*>& lanes, std::size_t blocks,
         unsigned sit_out) {
    const unsigned char* data[korvane::shamb::max_lanes] = {};
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
    check_ready(a, h, ready, lanes);
}

void attach(sha_lanes& h, std::vector<stream>& streams, std::vector<stream*>& lanes, cursor& in,
            unsigned op) {
    const std::size_t length = (in.byte() | (in.byte() << 8)) % 4096;
    const int lane = h.attach();
    FUZZ_CHECK((lane < 0) ==
               std::none_of(lanes.begin(), lanes.end(), [](stream* s) { return s == nullptr; }));
    if (lane < 0) {
        return;
    }
    stream& s = streams.emplace_back();
    s.bytes.resize(length);
    for (std::size_t i = 0; i < length; ++i) {
        s.bytes[i] = in.data[(op / 4 + i) % in.size];
    }
    lanes[lane] = &s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    cursor in{data, size};
    const unsigned choice = in.byte();
    const sha::algorithm a = (choice & 1u) != 0 ? sha::algorithm::sha256 : sha::algorithm::sha1;
    sha_lanes h(a, static_cast<korvane::shamb::path>((choice >> 1) % korvane::shamb::path_count));
    std::vector<stream> streams;
    streams.reserve(size);  // at most one stream per input byte: pointers stay valid
    std::vector<stream*> lanes(h.lanes(), nullptr);
    while (in.more()) {
        const unsigned op = in.byte();
        switch (op % 4) {
            case 0:
                attach(h, streams, lanes, in, op);
                break;
            case 1: {
                const unsigned operand = in.byte();
                run(a, h, lanes, 1 + operand % 8, operand >> 3);
                break;
            }
            case 2:
                check_ready(a, h, h.flush(), lanes);
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
        run(a, h, lanes, 64, 0);
    }
    FUZZ_CHECK(h.free_lanes() == h.lanes());
    return 0;
}
