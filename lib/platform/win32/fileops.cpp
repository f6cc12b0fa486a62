#include "platform/fileops.h"

#include <cerrno>

#include "platform/file.h"
#include "platform/win32/native.h"

namespace korvane::platform {

namespace {
[[nodiscard]] int result(BOOL ok) {
    return ok ? 0 : win32::fail_last();
}

// Replacing the target in one step, and on disk before the call returns, so
// that a crash leaves either the old or the new file.
constexpr DWORD replace_flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
}  // namespace

int make_directory(const char* path) {
    return result(::CreateDirectoryA(path, nullptr));
}
int remove_file(const char* path) {
    return result(::DeleteFileA(path));
}
int rename_file(const char* from, const char* to) {
    if (injected_write_fault()) {
        errno = injected_write_error();
        return errno;
    }
    return result(::MoveFileExA(from, to, replace_flags));
}

int make_directory(const wchar_t* path) {
    return result(::CreateDirectoryW(path, nullptr));
}
int remove_file(const wchar_t* path) {
    return result(::DeleteFileW(path));
}
int rename_file(const wchar_t* from, const wchar_t* to) {
    if (injected_write_fault()) {
        errno = injected_write_error();
        return errno;
    }
    return result(::MoveFileExW(from, to, replace_flags));
}

int read_small_file(const char* path, std::size_t limit, std::string& out) {
    out.clear();
    win32::handle_owner file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        return win32::fail_last();
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        errno = EACCES;
        return EACCES;
    }
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr)) {
            out.clear();
            return win32::fail_last();
        }
        if (got == 0) {
            return 0;
        }
        if (out.size() + got > limit) {
            out.clear();
            errno = EFBIG;
            return EFBIG;
        }
        out.append(buffer, got);
    }
}

// Windows folders have no owner-only mode bits to check here.
int check_private_directory(const char* path) {
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return win32::fail_last();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        errno = EACCES;
        return EACCES;
    }
    return 0;
}

file_lock::~file_lock() {
    if (handle != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(handle));
    }
}

int file_lock::acquire(const char* path) {
    HANDLE file = ::CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return win32::fail_last();
    }
    OVERLAPPED whole{};
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
        int error = win32::fail_last();
        ::CloseHandle(file);
        return error;
    }
    handle = file;
    return 0;
}

int create_marker_file(const wchar_t* path) {
    // A link or a directory of that name is left alone: the marker is never
    // written through somewhere else.
    DWORD attributes = ::GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        errno = EACCES;
        return EACCES;
    }
    HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return win32::fail_last();
    }
    // Emptied only when the file has no other name: a hard link planted under
    // the marker's name must not empty the file it points at.
    BY_HANDLE_FILE_INFORMATION info;
    int error = 0;
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        info.nNumberOfLinks != 1) {
        error = EACCES;
    } else if (!::SetEndOfFile(file)) {
        error = win32::fail_last();
    }
    ::CloseHandle(file);
    if (error != 0) {
        errno = error;
    }
    return error;
}

}  // namespace korvane::platform
