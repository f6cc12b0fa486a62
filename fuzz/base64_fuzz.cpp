// Base64 as the SFV tag uses it. Decoding arbitrary text: never more than `max`
// bytes, a smaller `max` gives a prefix of the same bytes, leading blanks and
// anything from the first character outside the alphabet on change nothing, and
// the decoded bytes encode and decode back to themselves. Encoding arbitrary
// bytes: the length and alphabet of the standard encoding, appended after what
// the text held, decoding back to the same bytes.
//
// Input: [0] the decoder's limit; the rest is the text, and as well the bytes.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/base64.h"
#include "support.h"

using korvane::detail::base64_decode;
using korvane::detail::base64_encode;

namespace {

bool in_alphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

std::vector<unsigned char> decode(std::string_view text, std::size_t max) {
    // Exactly `max` bytes, so that the sanitizer sees any write beyond them.
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[max == 0 ? 1 : max]);
    std::size_t count = base64_decode(text, buffer.get(), max);
    FUZZ_CHECK(count <= max);
    return std::vector<unsigned char>(buffer.get(), buffer.get() + count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t max = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    // Decoding.
    const std::vector<unsigned char> all = decode(text, text.size());
    const std::vector<unsigned char> limited = decode(text, max);
    FUZZ_CHECK(limited.size() == std::min(max, all.size()));
    FUZZ_CHECK(std::equal(limited.begin(), limited.end(), all.begin()));
    FUZZ_CHECK(all.size() <= text.size() * 3 / 4);

    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) {
        ++start;
    }
    std::size_t end = start;
    while (end < text.size() && in_alphabet(text[end])) {
        ++end;
    }
    FUZZ_CHECK(decode(text.substr(start, end - start), text.size()) == all);
    // Every full group of four characters gives three bytes; a final group of
    // three gives two, of two gives one, of one gives nothing.
    const std::size_t groups = end - start;
    const std::size_t partial = groups % 4;
    FUZZ_CHECK(all.size() == groups / 4 * 3 + (partial >= 2 ? partial - 1 : 0));

    std::string again;
    base64_encode(all.data(), again, all.size());
    FUZZ_CHECK(decode(again, all.size()) == all);

    // Encoding.
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::string encoded = "kept";
    std::size_t added = base64_encode(bytes, encoded, text.size());
    FUZZ_CHECK(encoded.compare(0, 4, "kept") == 0);
    FUZZ_CHECK(added == encoded.size() - 4);
    FUZZ_CHECK(added == (text.size() + 2) / 3 * 4);
    std::string_view body = std::string_view(encoded).substr(4);
    std::size_t padding = (3 - text.size() % 3) % 3;
    for (std::size_t i = 0; i < body.size(); ++i) {
        FUZZ_CHECK(i + padding >= body.size() ? body[i] == '=' : in_alphabet(body[i]));
    }
    std::vector<unsigned char> back = decode(body, text.size());
    FUZZ_CHECK(back.size() == text.size() && std::equal(back.begin(), back.end(), bytes));
    return 0;
}
