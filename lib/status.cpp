#include <korvane/status.h>

#include "status.h"

KORVANE_API int status_from_errno(int error_number) {
    return korvane::to_int(korvane::from_errno(error_number));
}
