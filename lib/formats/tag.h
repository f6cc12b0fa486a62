// Parts of the SFV tag that tests reach directly.
#ifndef KORVANE_FORMATS_TAG_H
#define KORVANE_FORMATS_TAG_H

#include <cstdint>
#include <limits>
#include <string_view>

namespace korvane::detail {

// The "expiretime" grammar: runs of digits, each followed by its unit d, h, m
// or s (any case); a number without a unit, or with another unit, counts for
// nothing. Returns 100-ns ticks, saturating instead of overflowing.
std::uint64_t expiry_ticks(const char* text);

// The version digit of a tag line (";K<digit>-..."), or -1 for any other line.
int tag_version(std::string_view line);

inline std::uint64_t saturating_ticks(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

}  // namespace korvane::detail

#endif
