#include "entries.h"

#include <cwchar>
#include <string>

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

}  // namespace korvane::app
