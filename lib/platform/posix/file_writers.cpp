// Keeping other writers out of a list while korvane rewrites it, and the
// stamp that shows whether anyone wrote it since it was read.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/file.h"

namespace korvane::platform {

namespace {

std::uint64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000000ULL +
           static_cast<std::uint64_t>(time.tv_nsec);
}

}  // namespace

int native_file::stamp(stamp_value& value) const {
    struct stat st;
    if (::fstat(handle, &st) != 0) {
        return errno;
    }
    value.size = static_cast<std::uint64_t>(st.st_size);
#if defined(__APPLE__)
    value.modified = nanoseconds(st.st_mtimespec);
    value.changed = nanoseconds(st.st_ctimespec);
#else
    value.modified = nanoseconds(st.st_mtim);
    value.changed = nanoseconds(st.st_ctim);
#endif
    return 0;
}

int native_file::exclude_writers() {
#if defined(F_SETLEASE) && defined(F_SETSIG)
    // The break of the lease comes as SIGIO with its reason (si_code > 0), so
    // that it can be told from a SIGIO someone sends to end the process.
    if (::fcntl(handle, F_SETSIG, SIGIO) != 0) {
        return errno;
    }
    if (::fcntl(handle, F_SETLEASE, F_WRLCK) == 0) {
        return 0;
    }
    // EAGAIN or EBUSY: another descriptor of the file is open, ours included.
    return errno == EAGAIN || errno == EBUSY ? error_file_in_use : errno;
#else
    return ENOSYS;
#endif
}

}  // namespace korvane::platform
