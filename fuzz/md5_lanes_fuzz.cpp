// Multi-lane MD5 driven by the input (lanes_driver.h): byte 0 picks the width
// (an unsupported one gives the single-stream path); a run's operand is a
// byte of blocks and two bytes of lanes that sit it out. Every digest taken
// must equal the single-stream MD5 of the same bytes.
#include <korvane/hasher.h>

#include <cstdint>

#include "hash/md5_lanes.h"
#include "lanes_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    korvane::md5mb::md5_lanes h(
        static_cast<korvane::md5mb::path>(data[0] % korvane::md5mb::path_count));
    const korvane::fuzz::lanes_target target{[](const korvane::fuzz::bytes& content) {
        korvane::fuzz::bytes want(16);
        md5_context ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, content.data(), static_cast<std::uint32_t>(content.size()));
        MD5Final(want.data(), &ctx);
        return want;
    }};
    korvane::fuzz::lanes_driver(h, target, data, size, 1).drive();
    return 0;
}
