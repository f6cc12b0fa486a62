// The "expiretime" grammar and the tag-line prefix. The duration is compared
// with an exact computation in wide arithmetic, clamped at the largest 64-bit
// value: the parser must saturate, never wrap.
//
// Input: the configuration value (up to its first zero byte, as stored).
#include <cstdint>
#include <string>

#include "formats/tag.h"
#include "support.h"

namespace {

using wide = unsigned __int128;
constexpr wide ceiling = wide{1} << 100;  // far beyond 2^64, kept from overflowing

wide clamp(wide value) {
    return value > ceiling ? ceiling : value;
}

std::uint64_t model_ticks(const std::string& text) {
    wide seconds = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] < '0' || text[i] > '9') {
            ++i;
            continue;
        }
        wide number = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            number = clamp(number * 10 + static_cast<unsigned>(text[i] - '0'));
            ++i;
        }
        if (i == text.size()) {
            break;  // no unit: the number counts for nothing
        }
        char unit = static_cast<char>(text[i] | 0x20);
        wide factor = unit == 'd'   ? 86400
                      : unit == 'h' ? 3600
                      : unit == 'm' ? 60
                      : unit == 's' ? 1
                                    : 0;
        ++i;
        seconds = clamp(seconds + clamp(number * factor));
    }
    wide ticks = clamp(seconds * 10000000U);
    return ticks > ~std::uint64_t{0} ? ~std::uint64_t{0} : static_cast<std::uint64_t>(ticks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(std::char_traits<char>::length(text.c_str()));
    FUZZ_CHECK(korvane::detail::expiry_ticks(text.c_str()) == model_ticks(text));

    bool tag = text.size() >= 4 && text[0] == ';' && text[1] == 'K' && text[2] >= '0' &&
               text[2] <= '9' && text[3] == '-';
    FUZZ_CHECK(korvane::detail::tag_version(text) == (tag ? text[2] - '0' : -1));
    return 0;
}
