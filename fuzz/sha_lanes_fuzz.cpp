// The paired SHA-1/SHA-256 lanes driven by the input (lanes_driver.h): byte 0
// picks the algorithm (bit 0) and the path (bit 1; an unsupported one gives
// the single path); a run's operand is one byte, the blocks in bits 0-2 and
// the lanes that sit it out in bits 3-4. Every digest taken must equal the
// portable block function's digest of the same bytes.
#include <korvane/sha.h>

#include <cstdint>

#include "hash/sha_lanes.h"
#include "lanes_driver.h"

namespace sha = korvane::sha;
using korvane::fuzz::bytes;

namespace {

template <typename H>
bytes digest_with(const bytes& content) {
    H h;
    h.init();
    h.update(content.data(), static_cast<std::uint32_t>(content.size()));
    h.finalize();
    const auto* digest = static_cast<const unsigned char*>(h.hash());
    return bytes(digest, digest + h.hash_size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const sha::algorithm a = (data[0] & 1u) != 0 ? sha::algorithm::sha256 : sha::algorithm::sha1;
    korvane::shamb::sha_lanes h(
        a, static_cast<korvane::shamb::path>((data[0] >> 1) % korvane::shamb::path_count));
    const korvane::fuzz::lanes_target target{
        [a](const bytes& content) {
            sha::force_path(a, sha::path::portable);
            bytes want = a == sha::algorithm::sha1 ? digest_with<sha1hasher>(content)
                                                   : digest_with<sha256hasher>(content);
            sha::reset_path(a);
            return want;
        },
        true};
    korvane::fuzz::lanes_driver(h, target, data, size, 1).drive();
    return 0;
}
