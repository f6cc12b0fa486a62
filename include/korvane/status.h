// Status codes shared by the whole library and the program.
#ifndef KORVANE_STATUS_H
#define KORVANE_STATUS_H

#include <korvane/export.h>

namespace korvane_status {
constexpr int ok = 0;
constexpr int unknown_error = -1;
constexpr int file_not_open = -2;
constexpr int file_read_error = -3;
constexpr int file_not_found = -4;
constexpr int access_denied = -5;
constexpr int invalid_line = -6;
constexpr int file_exists = -7;
constexpr int invalid_arguments = -8;
constexpr int path_error = -9;
// A line of a clear-signed list outside its signed text: not an entry.
constexpr int outside_signed_text = -10;
// A list that changed on disk while it was being updated: nothing was written.
constexpr int list_changed = -11;
// A UTF-16 list: read as text, but never rewritten.
constexpr int utf16_list = -12;
}  // namespace korvane_status

// The one mapping from the C runtime's error number to a status code.
[[nodiscard]] KORVANE_API int status_from_errno(int error_number);

// What the OS said behind the calling thread's last failure of a checksum
// file (opening, reading, writing, syncing or renaming a list), for a message
// that says more than the status: the C runtime's error number when that
// failure gave status `code`, else 0. `writing` (may be null) receives 1 when
// the failure came from writing the file out (a write, sync, cut, rename or
// the close of a new file), 0 otherwise. Each cause is handed out once.
[[nodiscard]] KORVANE_API int status_cause(int code, int* writing);

#endif
