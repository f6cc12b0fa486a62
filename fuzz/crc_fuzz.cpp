// Every CRC-32 path this CPU supports gives the reference path's register for
// the same bytes and starting register, whole or continued across a split;
// and the finished CRC-32 values of the two pieces combine into the whole's.
// The bytes are copied into an allocation of exactly their size, so that the
// sanitizer reports any load beyond the end.
//
// Input: [0..3] the starting register, [4] where to split; the rest is the
// message.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "hash/crc32_paths.h"
#include "support.h"

namespace crc32 = korvane::crc32;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    std::uint32_t reg = 0;
    std::memcpy(&reg, data, sizeof reg);
    const std::size_t n = size - 5;
    const std::size_t split = n == 0 ? 0 : data[4] * n / 255;
    const auto message = std::make_unique<unsigned char[]>(n);
    if (n != 0) {
        std::memcpy(message.get(), data + 5, n);
    }
    const unsigned char* p = message.get();

    const std::uint32_t expected = crc32::update_reference(reg, p, n);
    for (int i = 0; i < crc32::path_count; ++i) {
        const auto path = static_cast<crc32::path>(i);
        if (!crc32::path_supported(path)) {
            continue;
        }
        FUZZ_CHECK(crc32::update_with(path, reg, p, n) == expected);
        const std::uint32_t head = crc32::update_with(path, reg, p, split);
        FUZZ_CHECK(crc32::update_with(path, head, p + split, n - split) == expected);
    }
    const std::uint32_t first = ~crc32::update_reference(0xFFFFFFFFu, p, split);
    const std::uint32_t second = ~crc32::update_reference(0xFFFFFFFFu, p + split, n - split);
    FUZZ_CHECK(crc32::combine(first, second, n - split) ==
               ~crc32::update_reference(0xFFFFFFFFu, p, n));
    return 0;
}
