#include "platform/entry.h"

#include <cstddef>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/text.h"

namespace korvane::platform {

namespace {

// Under an address-space limit the kernel refuses to grow the stack once the
// heap has taken the rest, and the process dies of SIGSEGV instead of ending
// with the out-of-memory status. Touching the pages the program will need at
// the start, while there is room, keeps every later call on mapped pages.
[[gnu::noinline]] void grow_stack() {
    constexpr std::size_t bytes = 256 * 1024;
    char pages[bytes];
    for (std::size_t i = 0; i < bytes; i += 1024) {
        pages[i] = 0;
    }
    asm volatile("" : : "r"(pages) : "memory");  // the stores must happen
}

}  // namespace

int run_entry(int argc, char** argv, int (*entry)(int, wchar_t**)) {
    grow_stack();
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
