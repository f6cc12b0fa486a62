#include "platform/env.h"

#include <cstdlib>

#include "platform/text.h"

namespace korvane::platform {

std::optional<std::string> get_environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

std::wstring temporary_folder() {
    const char* value = std::getenv("TMPDIR");
    std::string folder = value != nullptr && *value != '\0' ? value : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return widen(folder);
}

}  // namespace korvane::platform
