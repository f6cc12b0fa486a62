#include "support/open_watch.h"

namespace korvane::testing {

// Windows reports no opens to a watcher: the watch is never active.
open_watch::open_watch(const std::string&) {}
open_watch::~open_watch() = default;

std::vector<std::string> open_watch::opened() {
    return {};
}

}  // namespace korvane::testing
