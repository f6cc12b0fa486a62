#include "support/target.h"

#include <cstdlib>

namespace korvane::testing {

void set_environment(const char* name, const std::optional<std::string>& value) {
#if defined(_WIN32)
    // An empty value removes the variable; the C runtime passes the change on
    // to the process environment that GetEnvironmentVariable reads.
    _putenv_s(name, value ? value->c_str() : "");
#else
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
#endif
}

}  // namespace korvane::testing
