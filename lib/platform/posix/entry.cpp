#include "platform/entry.h"

#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/text.h"

namespace korvane::platform {

int run_entry(int argc, char** argv, int (*entry)(int, wchar_t**)) {
    std::vector<std::wstring> storage;
    storage.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        storage.push_back(widen(argv[i]));
    }
    std::vector<wchar_t*> wide_argv;
    for (auto& arg : storage) {
        wide_argv.push_back(arg.data());
    }
    wide_argv.push_back(nullptr);
    int status = entry(argc, wide_argv.data());
    console_flush();
    // The process status is the low eight bits of the signed result.
    return status & 0xFF;
}

}  // namespace korvane::platform
