#include "platform/file.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <climits>

#include "platform/win32/native.h"

// Checksum files go through the C runtime's low-level calls: its descriptors
// are plain ints, its errors are already C error numbers, and binary mode keeps
// every byte (text mode would stop at a Ctrl-Z and fold CR LF behind our back).

namespace korvane::platform {

namespace {

int crt_error(int fallback) {
    return errno != 0 ? errno : fallback;
}

bool is_disk_file(int fd) {
    auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_DISK;
}

}  // namespace

native_file::~native_file() {
    close();
}

int native_file::open_existing(const wchar_t* path, bool writable) {
    close();
    int fd = -1;
    // While korvane rewrites a list nobody else may write it; reading it is fine.
    int flags = (writable ? _O_RDWR : _O_RDONLY) | _O_BINARY | _O_NOINHERIT;
    errno = 0;
    int error = ::_wsopen_s(&fd, path, flags, writable ? _SH_DENYWR : _SH_DENYNO, 0);
    if (error != 0) {
        errno = error;
        return error;
    }
    // A device name ("CON", "NUL") or a pipe is no checksum file and could block.
    if (!is_disk_file(fd)) {
        ::_close(fd);
        errno = EACCES;
        return EACCES;
    }
    handle = fd;
    return 0;
}

int native_file::create_beside(const wchar_t* target, std::wstring& temp_path) {
    close();
    if (target == nullptr || *target == L'\0') {
        errno = EINVAL;
        return EINVAL;
    }
    // Replacing a read-only file or a directory by rename would sidestep what
    // its owner asked for.
    DWORD attributes = ::GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) != 0) {
            errno = EACCES;
            return EACCES;
        }
    } else {
        DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            return win32::fail(error);
        }
    }
    static std::atomic<unsigned> counter{0};
    const std::wstring base(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = base + L"." + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(counter.fetch_add(1)) + L".tmp";
        int fd = -1;
        int error = ::_wsopen_s(&fd, candidate.c_str(),
                                _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                _SH_DENYWR, _S_IREAD | _S_IWRITE);
        if (error == EEXIST) {
            continue;
        }
        if (error != 0) {
            errno = error;
            return error;
        }
        handle = fd;
        temp_path = std::move(candidate);
        return 0;
    }
    errno = EEXIST;
    return EEXIST;
}

std::int64_t native_file::read(void* buffer, std::size_t size) {
    errno = 0;
    unsigned int part = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
    int got = ::_read(handle, buffer, part);
    if (got >= 0) {
        return got;
    }
    return -static_cast<std::int64_t>(errno);
}

int native_file::write_all(const void* data, std::size_t size) {
    auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        errno = 0;
        unsigned int part = size > INT_MAX ? INT_MAX : static_cast<unsigned int>(size);
        int done = ::_write(handle, bytes, part);
        if (done < 0) {
            return crt_error(EIO);
        }
        if (done == 0) {
            return crt_error(ENOSPC);  // a full disk writes nothing, with no error
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return 0;
}

int native_file::seek(std::uint64_t offset) {
    errno = 0;
    return ::_lseeki64(handle, static_cast<__int64>(offset), SEEK_SET) < 0 ? crt_error(EINVAL) : 0;
}

int native_file::truncate(std::uint64_t size) {
    int error = ::_chsize_s(handle, static_cast<__int64>(size));
    if (error != 0) {
        errno = error;
    }
    return error;
}

int native_file::sync() {
    errno = 0;
    return ::_commit(handle) != 0 ? crt_error(EIO) : 0;
}

int native_file::close() {
    if (handle < 0) {
        return 0;
    }
    int fd = handle;
    handle = -1;
    errno = 0;
    return ::_close(fd) != 0 ? crt_error(EIO) : 0;
}

}  // namespace korvane::platform
