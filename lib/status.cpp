#include <korvane/status.h>

#include <cerrno>

KORVANE_API int status_from_errno(int error_number) {
    switch (error_number) {
        case 0:
            return korvane_status::ok;
        case ENOENT:
            return korvane_status::file_not_found;
        case EIO:
            return korvane_status::file_read_error;
        case EACCES:
#ifdef EROFS
        case EROFS:  // writing where the file system refuses is a denial too
#endif
#ifdef EPERM
        case EPERM:
#endif
            return korvane_status::access_denied;
        case EEXIST:
            return korvane_status::file_exists;
        case EINVAL:
            return korvane_status::invalid_arguments;
        case ENOMEM:  // the out-of-memory status
            return korvane_status::unknown_error;
        default:
            return korvane_status::unknown_error;
    }
}
