// The program with a fault switch set from its first argument:
//   korvane_fault_driver N args...    runs as `korvane args...` with the Nth and
//                                     every later list entry failing to allocate
//                                     (0: none fails);
//   korvane_fault_driver wN args...   with the Nth and every later call that
//                                     changes a file failing with EIO (see
//                                     platform/file.h);
//   korvane_fault_driver sN args...   the same, failing with ENOSPC, as on a
//                                     disk that has filled up.
// An `h` before any of these (or alone: no fault) also writes, once the run
// is over, the number of files it opened for hashing to standard error, as
// the last line: "korvane_fault_driver: N files opened for hashing".
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "frontend.h"
#include "platform/entry.h"
#include "platform/fault.h"
#include "platform/file.h"

namespace {
bool report_opened = false;
}  // namespace

int korvane_main(int argc, wchar_t** argv) {
    const int status = korvane::app::run(argc, argv);
    if (report_opened) {
        std::fprintf(stderr, "korvane_fault_driver: %ld files opened for hashing\n",
                     korvane::platform::opened_for_hashing());
    }
    return status;
}

namespace {

void set_switch(const char* setting) {
    const long from =
        std::strtol(setting + (setting[0] == 'w' || setting[0] == 's' ? 1 : 0), nullptr, 10);
    if (setting[0] == 'w') {
        korvane::platform::inject_write_faults(from);
    } else if (setting[0] == 's') {
        korvane::platform::inject_write_faults(from, ENOSPC);
    } else {
        korvane::platform::inject_allocation_faults(from);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return 2;
    }
    const char* setting = argv[1];
    if (setting[0] == 'h') {
        report_opened = true;
        ++setting;
    }
    set_switch(setting);
    return korvane::platform::run_entry(argc - 1, argv + 1, &korvane_main);
}
