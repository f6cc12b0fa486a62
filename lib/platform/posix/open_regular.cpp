// Opening a regular file without ever opening anything else. Opening a device
// is an act of its own: a watchdog arms, a serial port toggles its lines, a
// tape rewinds. So the type is looked at before the open, on the name itself
// (a link is not followed for that look), and the open is made so that it can
// only reach what was looked at: no link on the way, or, where the name is or
// passes through a link, through a descriptor that names the file without
// opening it (O_PATH).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#if defined(__linux__) && defined(SYS_openat2) && __has_include(<linux/openat2.h>)
#include <linux/openat2.h>
#define KORVANE_HAS_OPENAT2 1
#else
#define KORVANE_HAS_OPENAT2 0
#endif

#include "platform/posix/native.h"

namespace korvane::platform::posix {

namespace {

// Never blocks on the open (a FIFO swapped in meanwhile), never takes a
// terminal as the controlling one.
constexpr int open_flags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

bool same_regular_file(const struct stat& looked_at, const struct stat& opened) {
    return S_ISREG(opened.st_mode) && opened.st_dev == looked_at.st_dev &&
           opened.st_ino == looked_at.st_ino;
}

// The refusal of `checks` for the regular file `st` describes, or 0.
int refusal(const hashing_checks* checks, const struct stat& st) {
    if (checks == nullptr) {
        return 0;
    }
    if (checks->exclude && static_cast<std::uint64_t>(st.st_dev) == checks->device &&
        static_cast<std::uint64_t>(st.st_ino) == checks->inode) {
        return refused_excluded;
    }
    return checks->owner_read && (st.st_mode & S_IRUSR) == 0 ? refused_unreadable : 0;
}

// Opens `path` only if none of its components is a symbolic link: -ELOOP when
// one is, -ENOSYS where the kernel cannot tell.
int open_without_links(const char* path, int flags) {
#if KORVANE_HAS_OPENAT2
    static std::atomic<bool> unsupported{false};
    if (!unsupported.load(std::memory_order_relaxed)) {
        open_how how{};
        how.flags = static_cast<std::uint64_t>(flags | open_flags);
        how.resolve = RESOLVE_NO_SYMLINKS;
        const long fd = ::syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
        if (fd >= 0) {
            return static_cast<int>(fd);
        }
        if (errno != ENOSYS) {
            return -errno;
        }
        unsupported.store(true, std::memory_order_relaxed);
    }
#else
    (void)path;
    (void)flags;
#endif
    return -ENOSYS;
}

// The way through a link: O_PATH follows it to what it names without opening
// that (no driver sees it), the type is checked on that descriptor, and only a
// regular file is opened, through /proc/self/fd, which reaches the very file
// the descriptor holds whatever the link says by now.
int open_through_links(const char* path, int flags, struct stat& st, const hashing_checks* checks) {
    const int where = ::open(path, O_PATH | O_CLOEXEC | (flags & O_NOFOLLOW));
    if (where < 0) {
        return -errno;
    }
    if (::fstat(where, &st) != 0) {
        const int error = errno;
        ::close(where);
        return -error;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(where);
        return -EACCES;  // a device, FIFO or directory the link names
    }
    if (const int refused = refusal(checks, st); refused != 0) {
        ::close(where);
        return -refused;
    }
    char own[48];
    std::snprintf(own, sizeof own, "/proc/self/fd/%d", where);
    const int reopen = (flags & ~O_NOFOLLOW) | open_flags;
    int fd = ::open(own, reopen);
    int error = errno;
    if (fd < 0 && error == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        // No /proc here: the name is opened once more and must still be the
        // file looked at. What it named in between could have been opened.
        fd = ::open(path, reopen);
        error = errno;
        struct stat opened;
        if (fd >= 0 && (::fstat(fd, &opened) != 0 || !same_regular_file(st, opened))) {
            ::close(fd);
            fd = -1;
            error = EACCES;
        }
    }
    ::close(where);
    return fd >= 0 ? fd : -error;
}

}  // namespace

int open_regular(const std::string& native, int flags, struct stat& st,
                 const hashing_checks* checks) {
    struct stat looked_at;
    if (::fstatat(AT_FDCWD, native.c_str(), &looked_at, AT_SYMLINK_NOFOLLOW) != 0) {
        return -errno;
    }
    if (S_ISLNK(looked_at.st_mode)) {
        if ((flags & O_NOFOLLOW) != 0) {
            return -ELOOP;
        }
        return open_through_links(native.c_str(), flags, st, checks);
    }
    if (!S_ISREG(looked_at.st_mode)) {
        // A directory, device, FIFO or socket: refused without being opened.
        return -EACCES;
    }
    if (const int refused = refusal(checks, looked_at); refused != 0) {
        return -refused;
    }
    int fd = open_without_links(native.c_str(), flags);
    if (fd == -ELOOP || fd == -ENOSYS) {
        // A folder on the way is a link (or the kernel cannot say).
        return open_through_links(native.c_str(), flags, st, checks);
    }
    if (fd < 0) {
        return fd;
    }
    if (::fstat(fd, &st) != 0 || !same_regular_file(looked_at, st)) {
        // Replaced between the look and the open.
        ::close(fd);
        return -EACCES;
    }
    return fd;
}

int open_regular_file(const std::string& native, int flags, std::uint64_t& size) {
    struct stat st;
    int fd = open_regular(native, flags, st);
    if (fd < 0) {
        return fd;
    }
    int current = ::fcntl(fd, F_GETFL);
    if (current >= 0) {
        ::fcntl(fd, F_SETFL, current & ~O_NONBLOCK);
    }
    size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

}  // namespace korvane::platform::posix
