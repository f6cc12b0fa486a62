#include "platform/file_read.h"

#include <cerrno>

#include "platform/fault.h"
#include "platform/win32/native.h"

namespace korvane::platform {

namespace {
HANDLE native(file_handle file) {
    return static_cast<HANDLE>(file);
}
}  // namespace

int open_for_hashing(const wchar_t* path, file_handle& file, std::uint64_t& size,
                     std::uint64_t* write_time, const hashing_checks* checks) {
    file = invalid_file;
    size = 0;
    if (win32::names_device(path)) {
        errno = EACCES;  // never opened: opening a device acts on it
        return EACCES;
    }
    // Others may read the file meanwhile but not write it: the bytes hashed are
    // the bytes of the file whose size was taken. A file that somebody has open
    // for writing is being changed as we look, so it cannot be verified now.
    HANDLE h = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
            errno = EIO;
            return EIO;
        }
        return win32::fail(error);
    }
    // Devices ("CON", "NUL", a pipe) are no files to hash and could block.
    LARGE_INTEGER length;
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        errno = EACCES;
        return EACCES;
    }
    // Windows has no owner-read bit; the identity is the open file's own.
    BY_HANDLE_FILE_INFORMATION identity;
    if (checks != nullptr && checks->exclude && ::GetFileInformationByHandle(h, &identity) &&
        identity.dwVolumeSerialNumber == checks->device &&
        ((static_cast<std::uint64_t>(identity.nFileIndexHigh) << 32) | identity.nFileIndexLow) ==
            checks->inode) {
        ::CloseHandle(h);
        return refused_excluded;
    }
    if (!::GetFileSizeEx(h, &length)) {
        int error = win32::fail_last();
        ::CloseHandle(h);
        return error;
    }
    if (write_time != nullptr) {
        FILETIME written;
        *write_time = ::GetFileTime(h, nullptr, nullptr, &written) ? win32::ticks(written) : 0;
    }
    file = h;
    size = static_cast<std::uint64_t>(length.QuadPart);
    count_opened_for_hashing();
    return 0;
}

file_handle duplicate_file(file_handle file) {
    HANDLE copy = nullptr;
    if (file == invalid_file ||
        !::DuplicateHandle(::GetCurrentProcess(), native(file), ::GetCurrentProcess(), &copy, 0,
                           FALSE, DUPLICATE_SAME_ACCESS)) {
        return invalid_file;
    }
    return copy;
}

void close_file(file_handle file) {
    if (file != invalid_file && file != nullptr) {
        ::CloseHandle(native(file));
    }
}

// The hint was given when the file was opened (FILE_FLAG_SEQUENTIAL_SCAN) and
// belongs to the open file, which a duplicate shares.
void advise_sequential(file_handle) {}

int read_exact(file_handle file, void* buffer, std::size_t length, std::uint64_t offset) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (length != 0) {
        DWORD part = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        if (!::ReadFile(native(file), out, part, &got, &at)) {
            DWORD error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF) {
                errno = EIO;
                return EIO;  // the file is shorter than its size said
            }
            int number = win32::fail(error);
            return number != 0 ? number : EIO;
        }
        if (got == 0) {
            errno = EIO;
            return EIO;
        }
        out += got;
        length -= got;
        offset += got;
    }
    return 0;
}

int open_for_streaming(const wchar_t* path, file_handle& file) {
    file = invalid_file;
    HANDLE h = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return win32::fail(::GetLastError());
    }
    file = static_cast<file_handle>(h);
    return 0;
}

file_handle standard_input() {
    HANDLE h = ::GetStdHandle(STD_INPUT_HANDLE);
    return h == nullptr || h == INVALID_HANDLE_VALUE ? invalid_file : static_cast<file_handle>(h);
}

int read_some(file_handle file, void* buffer, std::size_t length, std::size_t& got) {
    got = 0;
    if (file == invalid_file) {
        return EBADF;
    }
    DWORD part = length > 0x40000000 ? 0x40000000 : static_cast<DWORD>(length);
    DWORD done = 0;
    if (!::ReadFile(native(file), buffer, part, &done, nullptr)) {
        const DWORD error = ::GetLastError();
        // The writing end of a pipe closed: the end of what it had to say.
        return error == ERROR_BROKEN_PIPE ? 0 : win32::fail(error);
    }
    got = done;
    return 0;
}

bool name_from_bytes(std::string_view bytes, std::wstring& out) {
    out = win32::from_utf8(bytes);
    return bytes.empty() || !out.empty();
}

}  // namespace korvane::platform
