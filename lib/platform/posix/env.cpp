#include "platform/env.h"

#include <cstdlib>

namespace korvane::platform {

std::optional<std::string> get_environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

}  // namespace korvane::platform
