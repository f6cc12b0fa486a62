// Points the configuration store at a private folder before anything in this
// test program can create it: the store is a process-wide singleton that reads
// its location once.
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "support/target.h"
#include "support/temp_dir.h"

namespace {

struct private_config_folder {
    korvane::testing::temp_dir folder;
    private_config_folder() {
        korvane::testing::set_environment("LOCALAPPDATA", folder.path().string());
    }
};

private_config_folder* const config_folder = [] {
    static private_config_folder instance;
    return &instance;
}();

}  // namespace
