#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "platform/cpu.h"
#include "platform/fault.h"
#include "platform/posix/native.h"

namespace korvane::platform {

namespace {

int descriptor(file_handle file) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(file));
}

file_handle handle(int fd) {
    return reinterpret_cast<file_handle>(static_cast<std::intptr_t>(fd));
}

// Reads `length` bytes at `offset` through `read_some` (a pread-like call),
// going on after short reads and interruptions. A failing call's errno goes
// through `failure`; a file that ends early is EIO.
template <typename ReadSome, typename Failure>
[[nodiscard]] int read_all(void* buffer, std::size_t length, std::uint64_t offset,
                           ReadSome read_some, Failure failure) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length != 0) {
        ssize_t got = read_some(out, length, offset);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure(errno);
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

}  // namespace

int open_for_hashing(const wchar_t* path, file_handle& file, std::uint64_t& size,
                     std::uint64_t* write_time, const hashing_checks* checks) {
    file = invalid_file;
    size = 0;
    std::string native;
    if (int error = posix::to_native(path, native)) {
        return error;
    }
    // A device, FIFO or anything else but a regular file is never opened.
    // O_NONBLOCK stays set: reads of a regular file never block on it anyway,
    // and clearing it would cost two more system calls for every file.
    struct stat st;
    const int fd = posix::open_regular(native, O_RDONLY, st, checks);
    if (fd < 0) {
        return -fd;
    }
    size = static_cast<std::uint64_t>(st.st_size);
    if (write_time != nullptr) {
        *write_time = posix::ticks_from_timespec(st.st_mtim);
    }
    file = handle(fd);
    count_opened_for_hashing();
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
    const int fd = descriptor(file);
    return read_all(
        buffer, length, offset,
        [fd](unsigned char* out, std::size_t count, std::uint64_t at) {
            return ::pread(fd, out, count, static_cast<off_t>(at));
        },
        [](int error) { return error != 0 ? error : EIO; });
}

int read_if_cached(file_handle file, void* buffer, std::size_t length, std::uint64_t offset) {
#if defined(RWF_NOWAIT)
    const int fd = descriptor(file);
    return read_all(
        buffer, length, offset,
        [fd](unsigned char* out, std::size_t count, std::uint64_t at) {
            iovec part{out, count};
            return ::preadv2(fd, &part, 1, static_cast<off_t>(at), RWF_NOWAIT);
        },
        // EAGAIN: not in memory; EOPNOTSUPP and the like: the kernel cannot
        // tell, so the disk may well be involved.
        [](int error) { return error == EIO ? EIO : would_need_disk; });
#else
    (void)file;
    (void)buffer;
    (void)length;
    (void)offset;
    return would_need_disk;
#endif
}

bool all_in_memory(file_handle file, std::uint64_t size) {
    // The file is looked at through a mapping a window at a time: the
    // residency vector stays small whatever the file's size, and the look
    // stops at the first page that is not in memory.
    constexpr std::uint64_t window = 64u << 20;
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    if (page == 0 || page > window) {
        return false;
    }
    std::unique_ptr<unsigned char[]> resident(new (std::nothrow) unsigned char[window / page]);
    if (!resident) {
        return false;
    }
    for (std::uint64_t offset = 0; offset < size; offset += window) {
        const auto length = static_cast<std::size_t>(std::min(window, size - offset));
        void* view = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, descriptor(file),
                            static_cast<off_t>(offset));
        if (view == MAP_FAILED) {
            return false;
        }
        const bool looked = ::mincore(view, length, resident.get()) == 0;
        ::munmap(view, length);
        if (!looked) {
            return false;
        }
        const std::size_t pages = (length + page - 1) / page;
        for (std::size_t i = 0; i < pages; ++i) {
            if ((resident[i] & 1) == 0) {
                return false;
            }
        }
    }
    return true;
}

int open_for_streaming(const wchar_t* path, file_handle& file) {
    file = invalid_file;
    std::string native;
    if (int error = posix::to_native(path, native); error != 0) {
        return error;
    }
    int fd;
    do {
        fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return error;
    }
    file = handle(fd);
    return 0;
}

file_handle standard_input() {
    return handle(STDIN_FILENO);
}

int read_some(file_handle file, void* buffer, std::size_t length, std::size_t& got) {
    got = 0;
    for (;;) {
        const ssize_t n = ::read(descriptor(file), buffer, length);
        if (n >= 0) {
            got = static_cast<std::size_t>(n);
            return 0;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

bool name_from_bytes(std::string_view bytes, std::wstring& out) {
    out.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
    }
    return true;
}

}  // namespace korvane::platform
