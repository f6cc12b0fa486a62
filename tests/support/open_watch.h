// Which entries of a folder anybody opened while the watch stood: proof that
// a program never opened a FIFO or device it was only to look at. Linux
// (inotify) only; elsewhere the watch is not active and tests skip.
#ifndef KORVANE_TESTS_SUPPORT_OPEN_WATCH_H
#define KORVANE_TESTS_SUPPORT_OPEN_WATCH_H

#include <string>
#include <vector>

namespace korvane::testing {

class open_watch {
  public:
    explicit open_watch(const std::string& folder);
    ~open_watch();
    open_watch(const open_watch&) = delete;
    open_watch& operator=(const open_watch&) = delete;

    bool active() const { return handle >= 0; }
    // The names opened since the watch began (or since the last call), once
    // per open; an O_PATH descriptor, which opens nothing, is no open.
    std::vector<std::string> opened();

  private:
    int handle = -1;
};

}  // namespace korvane::testing

#endif
