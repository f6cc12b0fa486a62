#include "entries.h"

#include <korvane/hasher.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>

#include "output.h"
#include "platform/fs.h"
#include "platform/text.h"

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
    std::wstring text(8, L'0');
    platform::encode_hex32(value, text.data(), platform::hex_case::upper);
    return text;
}

}  // namespace

void print_mismatch(const wchar_t* path, checksum_type type, hasher& algorithm,
                    const void* expected, const void* computed) {
    if (type == checksum_type::sfv) {
        std::wstring stored = crc_text(expected);
        std::wstring actual = crc_text(computed);
        print(L"%s: hash mismatch: %s != %s\n", {path, stored.c_str(), actual.c_str()});
        return;
    }
    // hash_to_string hands out rotating buffers; copies keep the two apart.
    std::wstring stored = algorithm.hash_to_string(expected);
    std::wstring actual = algorithm.hash_to_string(computed);
    print(L"%s: hash mismatch: %s != %s\n", {path, stored.c_str(), actual.c_str()});
}

}  // namespace korvane::app
