#include "entries.h"

#include <korvane/hasher.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "output.h"
#include "platform/fs.h"

namespace korvane::app {

namespace platform = korvane::platform;

void resolve_windows_separators(wchar_t* path, wchar_t* name) {
    if (platform::is_path_separator(L'\\') || std::wcschr(name, L'\\') == nullptr) {
        return;
    }
    platform::file_info info;
    if (platform::get_file_info(path, info) != platform::error_not_found) {
        return;
    }
    std::wstring slashed(path);
    const std::size_t offset = static_cast<std::size_t>(name - path);
    for (std::size_t i = offset; i < slashed.size(); ++i) {
        if (slashed[i] == L'\\') {
            slashed[i] = L'/';
        }
    }
    // Neither spelling exists: the messages keep the name as the list has it.
    if (platform::get_file_info(slashed.c_str(), info) == platform::error_not_found) {
        return;
    }
    std::wmemcpy(path, slashed.c_str(), slashed.size());
}

namespace {

std::wstring crc_text(const void* bytes) {
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    static constexpr wchar_t upper_hex[] = L"0123456789ABCDEF";
    std::wstring text(8, L'0');
    for (int i = 0; i < 8; ++i) {
        text[static_cast<std::size_t>(i)] = upper_hex[(value >> (28 - 4 * i)) & 15];
    }
    return text;
}

}  // namespace

void print_mismatch(const wchar_t* path, checksum_type type, hasher& algorithm,
                    const void* expected) {
    if (type == checksum_type::sfv) {
        std::wstring stored = crc_text(expected);
        std::wstring computed = crc_text(algorithm.hash());
        print(L"%s: hash mismatch: %s != %s\n", {path, stored.c_str(), computed.c_str()});
        return;
    }
    // hash_to_string hands out one buffer, so the stored text is copied first.
    std::wstring stored = algorithm.hash_to_string(expected);
    print(L"%s: hash mismatch: %s != %s\n",
          {path, stored.c_str(), algorithm.hash_to_string(nullptr)});
}

}  // namespace korvane::app
