// The error numbers of fs.h. Both targets report failures as C runtime error
// numbers (the Windows layer maps its own codes onto them), so one definition
// serves both.
#include "platform/fs.h"

#include <cerrno>

namespace korvane::platform {

const int error_not_found = ENOENT;
const int error_io = EIO;
const int error_access = EACCES;
const int error_exists = EEXIST;
const int error_invalid = EINVAL;
const int error_no_memory = ENOMEM;

int last_error() {
    return errno;
}
void set_last_error(int value) {
    errno = value;
}

}  // namespace korvane::platform
