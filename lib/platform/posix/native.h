// Helpers shared by the POSIX implementation files only.
#ifndef KORVANE_PLATFORM_POSIX_NATIVE_H
#define KORVANE_PLATFORM_POSIX_NATIVE_H

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <string>

namespace korvane::platform::posix {

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

// Opens a regular file and nothing else, without ever blocking: O_NONBLOCK
// keeps a FIFO or device from holding the open, and the type is checked on the
// open descriptor, so the path cannot be swapped between check and open.
// Anything that is not a regular file gives EACCES. Returns the descriptor
// (blocking again for later reads) or the negated error number; `size`
// receives the file's size.
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
