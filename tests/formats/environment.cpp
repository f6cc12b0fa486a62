// Points the configuration store at a private folder before anything in this
// test program can load it. Lists used without settings of their own read the
// store, as library callers' lists do, and may store a signature: never in
// the user's own configuration.
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
