// Base64 with the standard alphabet, as the SFV tag stores its bits and time.
#ifndef KORVANE_FORMATS_BASE64_H
#define KORVANE_FORMATS_BASE64_H

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane::detail {

// Appends the encoding of `count` bytes to `text`; returns the characters added.
std::size_t base64_encode(const unsigned char* bytes, std::string& text, std::size_t count);

// Decodes from the start of `text` (leading spaces and tabs skipped) up to the
// first character outside the alphabet; a final group of one character gives
// nothing. Writes at most `max` bytes and returns how many were written.
std::size_t base64_decode(std::string_view text, unsigned char* bytes, std::size_t max);

}  // namespace korvane::detail

#endif
