#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/posix/native.h"
#include "platform/random.h"
#include "platform/text.h"

namespace korvane::platform {

native_file::~native_file() {
    // Nothing to report to: a file whose contents matter is synced and closed
    // explicitly, with its status checked, before it goes out of scope.
    (void)close();
}

int native_file::open_existing(const wchar_t* path, bool writable) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    std::string native;
    if (int error = posix::to_native(path, native)) {
        return posix::unrepresentable(error, error_unrepresentable_path);
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

int native_file::open_for_rewrite(const wchar_t* path) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    std::string native;
    if (int error = posix::to_native(path, native)) {
        return posix::unrepresentable(error, error_unrepresentable_path);
    }
    std::uint64_t size = 0;
    int fd = posix::open_regular_file(native, O_RDWR | O_NOFOLLOW, size);
    if (fd < 0) {
        errno = fd == -ELOOP ? EACCES : -fd;
        return errno;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
        ::close(fd);
        errno = EACCES;
        return EACCES;
    }
    handle = fd;
    return 0;
}

int native_file::identity(std::uint64_t& device, std::uint64_t& inode) const {
    struct stat st;
    if (::fstat(handle, &st) != 0) {
        return errno;
    }
    device = static_cast<std::uint64_t>(st.st_dev);
    inode = static_cast<std::uint64_t>(st.st_ino);
    return 0;
}

int replacement_mode(const wchar_t* target, unsigned& mode) {
    std::string native;
    if (int error = posix::to_native(target, native)) {
        return posix::unrepresentable(error, error_unrepresentable_path);
    }
    if (native.empty()) {
        return error_unrepresentable_path;
    }
    struct stat st;
    if (::stat(native.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) != 0) {
            errno = EACCES;
            return EACCES;
        }
    } else if (errno != ENOENT) {
        return errno;
    }
    // The target's own bits only when it is the user's own regular file, never
    // through a link, and never its set-id or sticky bits.
    if (::lstat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
        mode = static_cast<unsigned>(st.st_mode & 0777);
        return 0;
    }
    // Read without a window: no other thread creates files meanwhile.
    mode_t mask = ::umask(077);
    ::umask(mask);
    mode = static_cast<unsigned>(0666 & ~mask);
    return 0;
}

namespace {

// Makes `<native>.<16 random hexadecimal digits>.tmp` exclusively, never
// through a link; the descriptor, or -(error number).
int create_random_name(const std::string& native, int access, std::string& made) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[8];
        if (!random_bytes(random, sizeof random)) {
            errno = EIO;
            return EIO;
        }
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%02x%02x%02x%02x%02x%02x%02x%02x.tmp", random[0],
                      random[1], random[2], random[3], random[4], random[5], random[6], random[7]);
        std::string candidate = native + suffix;
        int fd = ::open(candidate.c_str(),
                        access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return -errno;
        }
        made = std::move(candidate);
        return fd;
    }
    errno = EEXIST;
    return -EEXIST;
}

// The native form of a target that files are made beside; 0 or the error.
int native_target(const wchar_t* target, std::string& native) {
    if (int error = posix::to_native(target, native)) {
        return posix::unrepresentable(error, error_unrepresentable_path);
    }
    return native.empty() ? error_unrepresentable_path : 0;
}

}  // namespace

int native_file::create_beside(const wchar_t* target, std::wstring& temp_path) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    std::string native;
    if (int error = native_target(target, native)) {
        return error;
    }
    std::string made;
    int fd = create_random_name(native, O_WRONLY, made);
    if (fd < 0) {
        return -fd;
    }
    handle = fd;
    temp_path = widen(made);
    return 0;
}

int native_file::create_scratch_beside(const wchar_t* target) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    std::string native;
    if (int error = native_target(target, native)) {
        return error;
    }
#ifdef O_TMPFILE
    const std::size_t slash = native.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : native.substr(0, slash);
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd >= 0) {
        handle = fd;
        return 0;
    }
    // File systems without unnamed files say so in several ways; anything
    // else (a missing folder, no room, no permission) is the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return errno;
    }
#endif
    std::string made;
    int made_fd = create_random_name(native, O_RDWR, made);
    if (made_fd < 0) {
        return -made_fd;
    }
    if (::unlink(made.c_str()) != 0) {
        int error = errno;
        ::close(made_fd);
        (void)::unlink(made.c_str());
        errno = error;
        return error;
    }
    handle = made_fd;
    return 0;
}

int native_file::set_mode(unsigned mode) {
    return ::fchmod(handle, static_cast<mode_t>(mode)) != 0 ? errno : 0;
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
    if (injected_write_fault()) {
        if (size / 2 > 0 && ::write(handle, bytes, size / 2) < 0) {
            return errno;
        }
        errno = injected_write_error();
        return errno;
    }
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
    if (injected_write_fault()) {
        errno = injected_write_error();
        return errno;
    }
    return ::ftruncate(handle, static_cast<off_t>(size)) != 0 ? errno : 0;
}

int native_file::sync() {
    if (injected_write_fault()) {
        errno = injected_write_error();
        return errno;
    }
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
