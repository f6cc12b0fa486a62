// The library's own way to report failure. Inside the library and the program
// a failure is a `korvane::status`; the integers of korvane/status.h exist only
// at the edge, where exported functions hand a status to their callers.
#ifndef KORVANE_INTERNAL_STATUS_H
#define KORVANE_INTERNAL_STATUS_H

#include <korvane/status.h>

#include <cerrno>

namespace korvane {

enum class status : int {
    ok = korvane_status::ok,
    unknown_error = korvane_status::unknown_error,
    file_not_open = korvane_status::file_not_open,
    file_read_error = korvane_status::file_read_error,
    file_not_found = korvane_status::file_not_found,
    access_denied = korvane_status::access_denied,
    invalid_line = korvane_status::invalid_line,
    file_exists = korvane_status::file_exists,
    invalid_arguments = korvane_status::invalid_arguments,
    path_error = korvane_status::path_error,
    outside_signed_text = korvane_status::outside_signed_text,
    list_changed = korvane_status::list_changed,
    utf16_list = korvane_status::utf16_list,
};

// The exported integer of a status.
[[nodiscard]] constexpr int to_int(status code) {
    return static_cast<int>(code);
}

// The status an exported integer stands for; any value outside the table
// (including the positive lengths some calls return) is an unknown error.
[[nodiscard]] constexpr status from_int(int code) {
    return code <= korvane_status::ok && code >= korvane_status::utf16_list
               ? static_cast<status>(code)
               : status::unknown_error;
}

// The one mapping from the C runtime's error number to a status.
[[nodiscard]] constexpr status from_errno(int error_number) {
    switch (error_number) {
        case 0:
            return status::ok;
        case ENOENT:
            return status::file_not_found;
        case EIO:
            return status::file_read_error;
        case EACCES:
#ifdef EROFS
        case EROFS:  // writing where the file system refuses is a denial too
#endif
#ifdef EPERM
        case EPERM:
#endif
            return status::access_denied;
        case EEXIST:
            return status::file_exists;
        case EINVAL:
            return status::invalid_arguments;
        case ENOMEM:  // the out-of-memory status
            return status::unknown_error;
        default:
            return status::unknown_error;
    }
}

namespace detail {
// Keeps the error number behind a failure of a checksum file for
// status_cause; `writing` when it came from writing the file out.
void note_failure(int error_number, bool writing);
}  // namespace detail

}  // namespace korvane

#endif
