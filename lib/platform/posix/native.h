// Helpers shared by the POSIX implementation files only.
#ifndef KORVANE_PLATFORM_POSIX_NATIVE_H
#define KORVANE_PLATFORM_POSIX_NATIVE_H

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string>

#include "platform/file_read.h"

struct stat;

namespace korvane::platform {
struct file_info;
}

namespace korvane::platform::posix {

// What get_file_info reports of a status the OS gave (fs.cpp).
void info_from_stat(const struct stat& st, file_info& out);

// A wide path becomes bytes unit by unit. 0, EINVAL when a unit exceeds 255 or
// the path holds a NUL (the OS would see a different, shorter path), or ENOMEM
// when the copy cannot be allocated (never an exception: worker threads and the
// library's callers see only error numbers).
[[nodiscard]] int to_native(const wchar_t* path, std::string& out);
// The error for a path without a native form as callers that have their own
// number for it report it; ENOMEM passes through.
inline int unrepresentable(int to_native_error, int own_error) {
    return to_native_error == ENOMEM ? ENOMEM : own_error;
}

// Opens a regular file and nothing else (open_regular.cpp). Anything else (a
// directory, device, FIFO or socket) gives EACCES and is never opened: its
// type is looked at first without following a link, the open reaches only
// what was looked at (a link is followed to its file through a descriptor
// that opens nothing), and the open file must still be that regular file.
// `flags` is O_RDONLY or O_RDWR, with O_NOFOLLOW to refuse a link as the last
// component (ELOOP). Returns the descriptor, opened with O_NONBLOCK (reads of
// a regular file never block anyway), or the negated error number; `st`
// receives the open file's status. With `checks`, a file they refuse gives
// their negated refusal (file_read.h) and is not opened.
[[nodiscard]] int open_regular(const std::string& native, int flags, struct stat& st,
                               const hashing_checks* checks = nullptr);
// The same, blocking again for later reads; `size` receives the file's size.
[[nodiscard]] int open_regular_file(const std::string& native, int flags, std::uint64_t& size);

// 100-ns ticks since 1601-01-01 UTC.
constexpr std::uint64_t ticks_from_unix(std::int64_t seconds, long nanoseconds) {
    return (static_cast<std::uint64_t>(seconds) + 11644473600ULL) * 10000000ULL +
           static_cast<std::uint64_t>(nanoseconds / 100);
}
inline std::uint64_t ticks_from_timespec(const timespec& ts) {
    return ticks_from_unix(ts.tv_sec, ts.tv_nsec);
}

}  // namespace korvane::platform::posix

#endif
