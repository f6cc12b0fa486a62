#include "platform/fileops.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/file.h"
#include "platform/posix/native.h"

namespace korvane::platform {

int make_directory(const char* path) {
    return ::mkdir(path, 0700) == 0 ? 0 : errno;
}
int remove_file(const char* path) {
    return ::unlink(path) == 0 ? 0 : errno;
}
int rename_file(const char* from, const char* to) {
    if (injected_write_fault()) {
        errno = injected_write_error();
        return errno;
    }
    return std::rename(from, to) == 0 ? 0 : errno;
}

namespace {
template <typename F>
[[nodiscard]] int with_native(const wchar_t* path, F f) {
    std::string native;
    if (int error = posix::to_native(path, native)) {
        errno = error;
        return error;
    }
    return f(native.c_str());
}
}  // namespace

int make_directory(const wchar_t* path) {
    return with_native(path, [](const char* p) { return make_directory(p); });
}
int remove_file(const wchar_t* path) {
    return with_native(path, [](const char* p) { return remove_file(p); });
}
int rename_file(const wchar_t* from, const wchar_t* to) {
    std::string native_to;
    if (int error = posix::to_native(to, native_to)) {
        errno = error;
        return error;
    }
    return with_native(from, [&](const char* p) { return rename_file(p, native_to.c_str()); });
}

int read_small_file(const char* path, std::size_t limit, std::string& out) {
    out.clear();
    std::uint64_t size = 0;
    int fd = posix::open_regular_file(path, O_RDONLY, size);
    if (fd < 0) {
        errno = -fd;
        return -fd;
    }
    int error = 0;
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            break;
        }
        if (got == 0) {
            break;
        }
        if (out.size() + static_cast<std::size_t>(got) > limit) {
            error = EFBIG;
            break;
        }
        out.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    if (error != 0) {
        out.clear();
        errno = error;
    }
    return error;
}

int check_private_directory(const char* path) {
    struct stat st;
    if (::lstat(path, &st) != 0) {
        return errno;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
        errno = EACCES;
        return EACCES;
    }
    return 0;
}

file_lock::~file_lock() {
    if (descriptor >= 0) {
        ::close(descriptor);  // releases the lock
    }
}

int file_lock::acquire(const char* path) {
    int fd = ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) {
        return errno;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EACCES;
        return EACCES;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            int error = errno;
            ::close(fd);
            return error;
        }
    }
    descriptor = fd;
    return 0;
}

int create_marker_file(const wchar_t* path) {
    return with_native(path, [](const char* p) {
        int fd =
            ::open(p, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
        if (fd < 0) {
            return errno;
        }
        // Emptied only when it is the user's own file with no other name: a
        // hard link planted under the marker's name must not empty the file
        // it points at.
        struct stat st;
        int error = 0;
        if (::fstat(fd, &st) != 0) {
            error = errno;
        } else if (!S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid()) {
            error = EACCES;
        } else if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
            error = errno;
        }
        ::close(fd);
        return error;
    });
}

}  // namespace korvane::platform
