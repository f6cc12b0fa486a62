// Lists of names (--files-from): read one name at a time in bounded memory.
#ifndef KORVANE_APP_NAME_LIST_H
#define KORVANE_APP_NAME_LIST_H

#include <functional>
#include <string>
#include <vector>

#include "platform/file_read.h"
#include "status.h"

namespace korvane::app {

class reporter;
struct run_settings;
struct expansion_state;

// Names separated by a line feed (nothing else is taken off: a carriage
// return before it is part of the name, as tar -T and rsync read lists) or,
// with `null_separated`, by a zero byte as find -print0 writes them. Empty
// names are passed over. Memory holds one read piece and one name of at most
// the room for paths, however long a line is.
class name_reader {
  public:
    explicit name_reader(bool null_separated) : separator(null_separated ? '\0' : '\n') {}
    ~name_reader();
    name_reader(const name_reader&) = delete;
    name_reader& operator=(const name_reader&) = delete;

    // "-" is standard input. Returns 0 or the C runtime's error number.
    [[nodiscard]] int open(const wchar_t* path);
    // 1 with the next name in `name`, 0 at the end, or minus an error number.
    // A name beyond the room for paths sets `too_long`, and `name` holds its
    // start.
    [[nodiscard]] int next(std::wstring& name, bool& too_long);

  private:
    [[nodiscard]] int fill();
    // Takes the name's bytes up to the separator or the end of the piece
    // (beyond the bound only noted); true when the separator ended them.
    bool take_run(bool& too_long);

    char separator;
    platform::file_handle file = platform::invalid_file;
    bool owns_file = false;
    std::vector<char> piece = std::vector<char>(64 * 1024);
    std::size_t at = 0;
    std::size_t filled = 0;
    bool ended = false;
    std::string bytes;  // the name being read, up to its bound
};

// Reads the run's lists of names and hands each name to `each`, as a file
// argument is handed to the expansion. A name too long is reported and
// passed over; a list that cannot be read ends the run (reported). Returns ok
// to go on, or the status with which the program must end.
[[nodiscard]] status read_name_lists(const run_settings& settings, expansion_state& state,
                                     reporter& report,
                                     const std::function<status(const wchar_t*)>& each);

}  // namespace korvane::app

#endif
