#include <korvane/status.h>

#include "status.h"

namespace {
// Per thread: a failure on one thread says nothing about another's.
thread_local int cause_error = 0;
thread_local bool cause_writing = false;
}  // namespace

void korvane::detail::note_failure(int error_number, bool writing) {
    cause_error = error_number;
    cause_writing = writing;
}

KORVANE_API int status_from_errno(int error_number) {
    return korvane::to_int(korvane::from_errno(error_number));
}

KORVANE_API int status_cause(int code, int* writing) {
    const int error = cause_error;
    const bool wrote = cause_writing;
    cause_error = 0;
    if (error <= 0 || code == korvane_status::ok || status_from_errno(error) != code) {
        return 0;
    }
    if (writing != nullptr) {
        *writing = wrote ? 1 : 0;
    }
    return error;
}
