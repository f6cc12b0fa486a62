// The program with a fault switch set from its first argument:
// `korvane_fault_driver N args...` runs as `korvane args...` with the Nth and
// every later list entry failing to allocate, `korvane_fault_driver wN
// args...` with the Nth and every later call that changes a file failing
// with EIO (see platform/file.h).
#include <cstdlib>

#include "frontend.h"
#include "platform/entry.h"
#include "platform/fault.h"
#include "platform/file.h"

int korvane_main(int argc, wchar_t** argv) {
    return korvane::app::run(argc, argv);
}

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    if (argv[1][0] == 'w') {
        korvane::platform::inject_write_faults(std::strtol(argv[1] + 1, nullptr, 10));
    } else {
        korvane::platform::inject_allocation_faults(std::strtol(argv[1], nullptr, 10));
    }
    return korvane::platform::run_entry(argc - 1, argv + 1, &korvane_main);
}
