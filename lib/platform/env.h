// Environment variables.
#ifndef KORVANE_PLATFORM_ENV_H
#define KORVANE_PLATFORM_ENV_H

#include <optional>
#include <string>

namespace korvane::platform {

// The variable's value, or nothing when it is unset. An empty value is returned
// as an empty string.
std::optional<std::string> get_environment(const char* name);

}  // namespace korvane::platform

#endif
