// Parts of the SFV tag that tests reach directly.
#ifndef KORVANE_FORMATS_TAG_H
#define KORVANE_FORMATS_TAG_H

#include <cstddef>
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

// What the tag's signature line adds to the signature for names resolved
// against the folder with this device, file number and canonical absolute
// path: "/" and 32 uppercase hexadecimal digits, the first 16 bytes of the
// SHA-256 of the device and the file number (8 bytes each, least significant
// first) and the path (each unit as 4 bytes, least significant first). A
// folder copied, moved, replaced or reached through a link changed since
// gives another code; a path chosen to collide would need a SHA-256 collision.
std::string folder_code(std::uint64_t device, std::uint64_t inode, std::wstring_view canonical);

// Bytes of bits a tag's bit line holds; a shorter line ends the bits.
constexpr std::size_t tag_bits_per_line = 48;

// Appends the bit lines of a tag: `count` bytes of bits, a full line's worth
// to each line but the last.
void encode_tag_bits(std::string& tag, const unsigned char* bits, std::size_t count);

struct name_folder;

// Settles which folder the names of a list resolve against: its code and
// device, and whether its file system keeps a change time. A folder that
// cannot be identified gets no code, so no tag is trusted or written for it.
void resolve_name_folder(const wchar_t* folder, name_folder& out);

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
