#include "platform/file.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <iterator>

#include "platform/random.h"
#include "platform/text.h"
#include "platform/win32/native.h"

// Checksum files go through the C runtime's low-level calls: its descriptors
// are plain ints, its errors are already C error numbers, and binary mode keeps
// every byte (text mode would stop at a Ctrl-Z and fold CR LF behind our back).

namespace korvane::platform {

namespace {

[[nodiscard]] int crt_error(int fallback) {
    return errno != 0 ? errno : fallback;
}

bool is_disk_file(int fd) {
    auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    return h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_DISK;
}

}  // namespace

native_file::~native_file() {
    // Nothing to report to: a file whose contents matter is synced and closed
    // explicitly, with its status checked, before it goes out of scope.
    (void)close();
}

int native_file::open_existing(const wchar_t* path, bool writable) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    if (win32::names_device(path)) {
        errno = EACCES;  // never opened: opening a device acts on it
        return EACCES;
    }
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

int native_file::open_for_rewrite(const wchar_t* path) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    // Never through a link: a planted reparse point would carry the rewrite
    // into another file. Ownership is not checked here (POSIX only).
    DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY)) != 0) {
        errno = EACCES;
        return EACCES;
    }
    return open_existing(path, true);
}

int native_file::identity(std::uint64_t& device, std::uint64_t& inode) const {
    auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(handle));
    BY_HANDLE_FILE_INFORMATION info;
    if (h == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(h, &info)) {
        return win32::fail_last();
    }
    device = info.dwVolumeSerialNumber;
    inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return 0;
}

int replacement_mode(const wchar_t* target, unsigned& mode) {
    if (target == nullptr || *target == L'\0') {
        errno = EINVAL;
        return EINVAL;
    }
    mode = 0666;
    // Replacing a read-only file or a directory by rename would sidestep what
    // its owner asked for.
    DWORD attributes = ::GetFileAttributesW(target);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if ((attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DEVICE)) != 0) {
            errno = EACCES;
            return EACCES;
        }
        return 0;
    }
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : win32::fail(error);
}

namespace {

// Makes `<target>.<16 random hexadecimal digits>.tmp` exclusively, never
// through a link; the descriptor, or -(error number).
int create_random_name(const wchar_t* target, DWORD access, DWORD flags, std::wstring& made) {
    if (target == nullptr || *target == L'\0') {
        errno = EINVAL;
        return -EINVAL;
    }
    const std::wstring base(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[8];
        if (!random_bytes(random, sizeof random)) {
            errno = EIO;
            return EIO;
        }
        wchar_t digits[2 * sizeof random];
        encode_hex(random, sizeof random, digits, hex_case::lower);
        std::wstring candidate = base + L".";
        candidate.append(digits, std::size(digits));
        candidate += L".tmp";
        // CREATE_NEW never opens what exists, a link included.
        HANDLE created = ::CreateFileW(
            candidate.c_str(), access, FILE_SHARE_READ | (flags != 0 ? FILE_SHARE_DELETE : 0),
            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | flags,
            nullptr);
        if (created == INVALID_HANDLE_VALUE) {
            DWORD error = ::GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return -win32::fail(error);
        }
        const int mode = (access & GENERIC_READ) != 0 ? _O_RDWR : _O_WRONLY;
        int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(created), mode | _O_BINARY);
        if (fd < 0) {
            ::CloseHandle(created);
            ::DeleteFileW(candidate.c_str());
            errno = EMFILE;
            return -EMFILE;
        }
        made = std::move(candidate);
        return fd;
    }
    errno = EEXIST;
    return -EEXIST;
}

}  // namespace

int native_file::create_beside(const wchar_t* target, std::wstring& temp_path) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    std::wstring made;
    int fd = create_random_name(target, GENERIC_WRITE, 0, made);
    if (fd < 0) {
        return -fd;
    }
    handle = fd;
    temp_path = std::move(made);
    return 0;
}

int native_file::create_scratch_beside(const wchar_t* target) {
    (void)close();  // drops an earlier file; callers close what they wrote first
    std::wstring made;
    // The system deletes it when its last handle closes, a killed process's
    // included.
    int fd =
        create_random_name(target, GENERIC_READ | GENERIC_WRITE, FILE_FLAG_DELETE_ON_CLOSE, made);
    if (fd < 0) {
        return -fd;
    }
    handle = fd;
    return 0;
}

int native_file::set_mode(unsigned) {
    return 0;
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
    if (injected_write_fault()) {
        if (size / 2 > 0) {
            ::_write(handle, bytes,
                     static_cast<unsigned int>(size / 2 > INT_MAX ? INT_MAX : size / 2));
        }
        errno = injected_write_error();
        return errno;
    }
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
    if (injected_write_fault()) {
        errno = injected_write_error();
        return errno;
    }
    int error = ::_chsize_s(handle, static_cast<__int64>(size));
    if (error != 0) {
        errno = error;
    }
    return error;
}

int native_file::sync() {
    if (injected_write_fault()) {
        errno = injected_write_error();
        return errno;
    }
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
