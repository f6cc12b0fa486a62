#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/posix/native.h"

namespace korvane::platform {

namespace {

int descriptor(file_handle file) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(file));
}

file_handle handle(int fd) {
    return reinterpret_cast<file_handle>(static_cast<std::intptr_t>(fd));
}

}  // namespace

int open_for_hashing(const wchar_t* path, file_handle& file, std::uint64_t& size,
                     std::uint64_t* write_time) {
    file = invalid_file;
    size = 0;
    std::string native;
    if (int error = posix::to_native(path, native)) {
        return error;
    }
    // O_NONBLOCK keeps a FIFO or device from holding the open. It stays set:
    // reads of a regular file never block on it anyway, and clearing it would
    // cost two more system calls for every file.
    int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return errno == EISDIR || errno == ENXIO ? EACCES : errno;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        return error;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return EACCES;  // checked on the open descriptor: the path cannot be swapped meanwhile
    }
    size = static_cast<std::uint64_t>(st.st_size);
    if (write_time != nullptr) {
        *write_time = posix::ticks_from_timespec(st.st_mtim);
    }
    file = handle(fd);
    return 0;
}

file_handle duplicate_file(file_handle file) {
    int fd = ::fcntl(descriptor(file), F_DUPFD_CLOEXEC, 0);
    return fd < 0 ? invalid_file : handle(fd);
}

void close_file(file_handle file) {
    if (file != invalid_file) {
        ::close(descriptor(file));
    }
}

void advise_sequential(file_handle file) {
    ::posix_fadvise(descriptor(file), 0, 0, POSIX_FADV_SEQUENTIAL);
}

int read_exact(file_handle file, void* buffer, std::size_t length, std::uint64_t offset) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length != 0) {
        ssize_t got = ::pread(descriptor(file), out, length, static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno != 0 ? errno : EIO;
        }
        if (got == 0) {
            return EIO;  // the file is shorter than its size said
        }
        out += got;
        length -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return 0;
}

}  // namespace korvane::platform
