#include "formats/base64.h"

namespace korvane::detail {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int value_of(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

}  // namespace

std::size_t base64_encode(const unsigned char* bytes, std::string& text, std::size_t count) {
    std::size_t before = text.size();
    std::size_t i = 0;
    for (; i + 3 <= count; i += 3) {
        unsigned group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += alphabet[(group >> 6) & 63];
        text += alphabet[group & 63];
    }
    if (count - i == 1) {
        unsigned group = bytes[i] << 16;
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += "==";
    } else if (count - i == 2) {
        unsigned group = (bytes[i] << 16) | (bytes[i + 1] << 8);
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += alphabet[(group >> 6) & 63];
        text += '=';
    }
    return text.size() - before;
}

std::size_t base64_decode(std::string_view text, unsigned char* bytes, std::size_t max) {
    std::size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
        ++pos;
    }
    std::size_t written = 0;
    unsigned group = 0;
    int held = 0;
    for (; pos < text.size() && written < max; ++pos) {
        int v = value_of(text[pos]);
        if (v < 0) {
            break;
        }
        group = (group << 6) | static_cast<unsigned>(v);
        if (++held == 4) {
            unsigned char out[3] = {static_cast<unsigned char>(group >> 16),
                                    static_cast<unsigned char>(group >> 8),
                                    static_cast<unsigned char>(group)};
            for (int k = 0; k < 3 && written < max; ++k) {
                bytes[written++] = out[k];
            }
            group = 0;
            held = 0;
        }
    }
    // A final partial group: three characters carry two bytes, two carry one,
    // a single character carries no whole byte.
    if (held >= 2) {
        group <<= 6 * (4 - held);
        unsigned char out[2] = {static_cast<unsigned char>(group >> 16),
                                static_cast<unsigned char>(group >> 8)};
        for (int k = 0; k < held - 1 && written < max; ++k) {
            bytes[written++] = out[k];
        }
    }
    return written;
}

}  // namespace korvane::detail
