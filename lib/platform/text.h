// Text conversions that every part of korvane shares. Checksum files, the
// configuration file and (on POSIX) file names are 8-bit text: a code unit
// below 256 maps to the byte of the same value and back. Nothing here looks at
// the C locale, so bytes 128..255 survive unchanged.
#ifndef KORVANE_PLATFORM_TEXT_H
#define KORVANE_PLATFORM_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::platform {

// Whether wide text holds UTF-16 units (Windows) or one unit per byte of the
// native text (POSIX).
#ifdef _WIN32
inline constexpr bool wide_units_are_utf16 = true;
#else
inline constexpr bool wide_units_are_utf16 = false;
#endif

inline std::wstring widen(std::string_view bytes) {
    std::wstring out(bytes.size(), L'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    }
    return out;
}

// Narrows by value. Returns false (and leaves `out` unspecified) when a unit
// does not fit in a byte.
// One pass without an early exit, which the compiler can widen to vectors:
// every path and name of a run of millions of files comes through here.
inline bool narrow(std::wstring_view text, std::string& out) {
    out.resize(text.size());
    char* bytes = out.data();
    unsigned long units = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<unsigned long>(text[i]);
        units |= unit;
        bytes[i] = static_cast<char>(static_cast<unsigned char>(unit));
    }
    return units <= 0xFF;
}

// ASCII-only case folding: the library never depends on the locale.
constexpr wchar_t ascii_lower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
}
constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// The blanks of the C locale: space, tab, line feed, vertical tab, form feed
// and carriage return; nothing above ASCII.
constexpr bool is_ascii_space(wchar_t c) {
    return (c >= L'\t' && c <= L'\r') || c == L' ';
}

// A unit as a code point with ASCII letters folded to lower case; a char is the
// byte 0..255 that widen() makes of it.
constexpr std::uint32_t folded_unit(char c) {
    return static_cast<unsigned char>(ascii_lower(c));
}
constexpr std::uint32_t folded_unit(wchar_t c) {
    return static_cast<std::uint32_t>(ascii_lower(c));
}

// Whether two texts are the same but for the case of ASCII letters. Every other
// unit (bytes 128..255 included, whatever a code page would fold) compares as
// itself; a byte and a wide unit compare by value.
template <class CharA, class CharB>
constexpr bool equal_ignoring_ascii_case(std::basic_string_view<CharA> a,
                                         std::basic_string_view<CharB> b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (folded_unit(a[i]) != folded_unit(b[i])) {
            return false;
        }
    }
    return true;
}

enum class hex_case { lower, upper };

// The hexadecimal digit of the low four bits of `value`.
template <class Char>
constexpr Char hex_digit(unsigned value, hex_case letters) {
    constexpr char lower[] = "0123456789abcdef";
    constexpr char upper[] = "0123456789ABCDEF";
    return static_cast<Char>((letters == hex_case::upper ? upper : lower)[value & 15]);
}

// Writes `count` bytes as 2 * count digits, high half of each byte first. No
// terminator is written.
template <class Char>
constexpr void encode_hex(const unsigned char* bytes, std::size_t count, Char* out,
                          hex_case letters) {
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = hex_digit<Char>(bytes[i] >> 4, letters);
        out[2 * i + 1] = hex_digit<Char>(bytes[i], letters);
    }
}

// Writes `value` as eight digits, most significant first. No terminator is
// written.
template <class Char>
constexpr void encode_hex32(std::uint32_t value, Char* out, hex_case letters) {
    for (int i = 0; i < 8; ++i) {
        out[i] = hex_digit<Char>(value >> (28 - 4 * i), letters);
    }
}

}  // namespace korvane::platform

#endif
