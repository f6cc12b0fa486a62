#include "platform/env.h"

#include "platform/win32/native.h"

namespace korvane::platform {

// The value comes in the ANSI code page, the same one the narrow file calls
// (CreateDirectoryA, fopen) use, so a directory named by it can be reached.
std::optional<std::string> get_environment(const char* name) {
    std::string value(256, '\0');
    for (;;) {
        ::SetLastError(ERROR_SUCCESS);
        DWORD got = ::GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
        if (got == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
                return std::nullopt;
            }
            return std::string();
        }
        if (got < value.size()) {
            value.resize(got);
            return value;
        }
        value.resize(got);  // too small: `got` is the size needed, terminator included
    }
}

}  // namespace korvane::platform
