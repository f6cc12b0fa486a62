#include "platform/fileops.h"

#include <cerrno>

#include "platform/file.h"
#include "platform/win32/native.h"

namespace korvane::platform {

namespace {
int result(BOOL ok) {
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
        errno = EIO;
        return EIO;
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
        errno = EIO;
        return EIO;
    }
    return result(::MoveFileExW(from, to, replace_flags));
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
    HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return win32::fail_last();
    }
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        ::CloseHandle(file);
        errno = EACCES;
        return EACCES;
    }
    ::CloseHandle(file);
    return 0;
}

}  // namespace korvane::platform
