#include "platform/entry.h"

#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/win32/native.h"

#include <shellapi.h>

namespace korvane::platform {

// The program enters through wmain on Windows; this is for a caller that only
// has the narrow vector, which on Windows is lossy: take the wide command line.
int run_entry(int argc, char** argv, int (*entry)(int, wchar_t**)) {
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) {
        return -1;
    }
    int status = entry(count, wide);
    console_flush();
    ::LocalFree(wide);
    return status;
}

}  // namespace korvane::platform
