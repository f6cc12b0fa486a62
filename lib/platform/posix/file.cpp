#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/native.h"
#include "platform/text.h"

namespace korvane::platform {

native_file::~native_file() {
    close();
}

int native_file::open_existing(const wchar_t* path, bool writable) {
    close();
    std::string native;
    if (!posix::to_native(path, native)) {
        return error_unrepresentable_path;
    }
    std::uint64_t size = 0;
    int fd = posix::open_regular_file(native, writable ? O_RDWR : O_RDONLY, size);
    if (fd < 0) {
        errno = -fd;
        return -fd;
    }
    handle = fd;
    return 0;
}

int native_file::create_beside(const wchar_t* target, std::wstring& temp_path) {
    close();
    std::string native;
    if (!posix::to_native(target, native) || native.empty()) {
        return error_unrepresentable_path;
    }
    mode_t mode = 0666;
    struct stat st;
    if (::stat(native.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || ::access(native.c_str(), W_OK) != 0) {
            errno = EACCES;
            return EACCES;
        }
        mode = st.st_mode & 07777;
    } else if (errno != ENOENT) {
        return errno;
    }
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[64];
        std::snprintf(suffix, sizeof suffix, ".%ld-%u.tmp", static_cast<long>(::getpid()),
                      counter.fetch_add(1));
        std::string candidate = native + suffix;
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                        mode == 0666 ? 0666 : 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return errno;
        }
        if (mode != 0666) {
            ::fchmod(fd, mode);
        }
        handle = fd;
        temp_path = widen(candidate);
        return 0;
    }
    errno = EEXIST;
    return EEXIST;
}

std::int64_t native_file::read(void* buffer, std::size_t size) {
    for (;;) {
        errno = 0;
        ssize_t got = ::read(handle, buffer, size);
        if (got >= 0) {
            return got;
        }
        if (errno != EINTR) {
            return -static_cast<std::int64_t>(errno);
        }
    }
}

int native_file::write_all(const void* data, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        errno = 0;
        ssize_t done = ::write(handle, bytes, size);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (done == 0) {
            return errno != 0 ? errno : EIO;
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return 0;
}

int native_file::seek(std::uint64_t offset) {
    return ::lseek(handle, static_cast<off_t>(offset), SEEK_SET) < 0 ? errno : 0;
}

int native_file::truncate(std::uint64_t size) {
    return ::ftruncate(handle, static_cast<off_t>(size)) != 0 ? errno : 0;
}

int native_file::sync() {
    if (::fsync(handle) != 0) {
        // File systems without fsync support (some pipes, virtual files) are no
        // write failure.
        return (errno == EINVAL || errno == EROFS) ? 0 : errno;
    }
    return 0;
}

int native_file::close() {
    if (handle < 0) {
        return 0;
    }
    int fd = handle;
    handle = -1;
    // After close fails with EINTR the descriptor is gone on Linux: no retry.
    return ::close(fd) != 0 && errno != EINTR ? errno : 0;
}

}  // namespace korvane::platform
