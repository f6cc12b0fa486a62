// The program with every file system looking as if it kept no change time:
// `korvane_untrusted_fs_driver args...` runs as `korvane args...`.
#include "frontend.h"
#include "platform/entry.h"
#include "platform/fault.h"

int korvane_main(int argc, wchar_t** argv) {
    return korvane::app::run(argc, argv);
}

int main(int argc, char** argv) {
    korvane::platform::inject_untrusted_file_systems(true);
    return korvane::platform::run_entry(argc, argv, &korvane_main);
}
