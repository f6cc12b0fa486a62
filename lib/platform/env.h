// Environment variables.
#ifndef KORVANE_PLATFORM_ENV_H
#define KORVANE_PLATFORM_ENV_H

#include <optional>
#include <string>

namespace korvane::platform {

// The variable's value, or nothing when it is unset. An empty value is returned
// as an empty string.
std::optional<std::string> get_environment(const char* name);

// The folder for temporary files: TMPDIR, else /tmp (Windows: the folder
// GetTempPath names), without a separator at its end.
std::wstring temporary_folder();

}  // namespace korvane::platform

#endif
