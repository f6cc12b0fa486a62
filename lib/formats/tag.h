// Parts of the SFV tag that tests reach directly.
#ifndef KORVANE_FORMATS_TAG_H
#define KORVANE_FORMATS_TAG_H

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace korvane::detail {

// The "expiretime" grammar: runs of digits, each followed by its unit d, h, m
// or s (any case); a number without a unit, or with another unit, counts for
// nothing. Returns 100-ns ticks, saturating instead of overflowing.
std::uint64_t expiry_ticks(const char* text);

// The version digit of a tag line (";K<digit>-..."), or -1 for any other line.
int tag_version(std::string_view line);

// What the tag's signature line adds for names resolved against `folder` in a
// list at `list_path`: nothing when `folder` is the list's own folder (the
// same directory after following links), otherwise "/" and the CRC-32 (the
// SFV polynomial) of the folder's canonical absolute path, as eight uppercase
// hexadecimal digits. The path's bytes are its units, a unit above 255 as two
// bytes, low byte first.
std::string folder_suffix(const wchar_t* folder, const std::wstring& list_path);

// Tag times and expiry: a sum or product too large for 64 bits is the largest
// value (never expires) rather than a small one that wrapped around.
constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}
constexpr std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
    return a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a
               ? std::numeric_limits<std::uint64_t>::max()
               : a * b;
}

}  // namespace korvane::detail

#endif
