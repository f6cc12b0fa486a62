#include "support/open_watch.h"

#include <unistd.h>

#if defined(__linux__)
#include <sys/inotify.h>
#endif

namespace korvane::testing {

#if defined(__linux__)

open_watch::open_watch(const std::string& folder) {
    handle = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (handle >= 0 && ::inotify_add_watch(handle, folder.c_str(), IN_OPEN) < 0) {
        ::close(handle);
        handle = -1;
    }
}

std::vector<std::string> open_watch::opened() {
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(handle, buffer, sizeof buffer);
        if (got <= 0) {
            return names;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if ((event->mask & IN_OPEN) != 0 && event->len > 0) {
                names.emplace_back(event->name);
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

#else

open_watch::open_watch(const std::string&) {}

std::vector<std::string> open_watch::opened() {
    return {};
}

#endif

open_watch::~open_watch() {
    if (handle >= 0) {
        ::close(handle);
    }
}

}  // namespace korvane::testing
