// Text conversions that every part of korvane shares. Checksum files, the
// configuration file and (on POSIX) file names are 8-bit text: a code unit
// below 256 maps to the byte of the same value and back. Nothing here looks at
// the C locale, so bytes 128..255 survive unchanged.
#ifndef KORVANE_PLATFORM_TEXT_H
#define KORVANE_PLATFORM_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane::platform {

inline std::wstring widen(std::string_view bytes) {
    std::wstring out(bytes.size(), L'\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    }
    return out;
}

// Narrows by value. Returns false (and leaves `out` unspecified) when a unit
// does not fit in a byte.
inline bool narrow(std::wstring_view text, std::string& out) {
    out.resize(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        auto unit = static_cast<unsigned long>(text[i]);
        if (unit > 0xFF) {
            return false;
        }
        out[i] = static_cast<char>(static_cast<unsigned char>(unit));
    }
    return true;
}

// ASCII-only case folding: the library never depends on the locale.
constexpr wchar_t ascii_lower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
}
constexpr char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

}  // namespace korvane::platform

#endif
