// Helpers shared by the Windows implementation files only.
#ifndef KORVANE_PLATFORM_WIN32_NATIVE_H
#define KORVANE_PLATFORM_WIN32_NATIVE_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::platform::win32 {

// The C runtime's error number for a Windows error code, so that every caller
// above this layer sees one kind of error whatever the target. Codes without a
// counterpart give an error number outside korvane's status table, which then
// reads as "Unknown error" rather than as something it is not.
[[nodiscard]] int errno_from_win32(DWORD error);

// Stores the error number of `error` in errno and returns it.
[[nodiscard]] int fail(DWORD error);
[[nodiscard]] inline int fail_last() {
    return fail(::GetLastError());
}

// 100-ns ticks since 1601-01-01 UTC: a FILETIME is exactly that.
inline std::uint64_t ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Whether `path` names a device rather than a file: a reserved DOS device name
// as its last component in any folder and with any extension ("CON",
// "sub\\nul.txt", "COM1", "CONIN$"), or the device namespace ("\\\\.\\COM1",
// "\\\\?\\GLOBALROOT\\..."; a drive or UNC path there is no device). Such a
// name is refused before it is opened: opening a device acts on it.
bool names_device(std::wstring_view path);

// UTF-8 <-> UTF-16 for text that crosses into or out of the program as bytes
// (captured output, test arguments). Unpaired surrogates become U+FFFD.
std::wstring from_utf8(std::string_view bytes);
std::string to_utf8(std::wstring_view text);

// Owns a kernel handle.
class handle_owner {
  public:
    explicit handle_owner(HANDLE h = INVALID_HANDLE_VALUE) : value(h) {}
    ~handle_owner() { reset(); }
    handle_owner(const handle_owner&) = delete;
    handle_owner& operator=(const handle_owner&) = delete;
    HANDLE get() const { return value; }
    bool valid() const { return value != INVALID_HANDLE_VALUE && value != nullptr; }
    HANDLE release() {
        HANDLE h = value;
        value = INVALID_HANDLE_VALUE;
        return h;
    }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (valid()) {
            ::CloseHandle(value);
        }
        value = h;
    }

  private:
    HANDLE value;
};

// 0 when `path` names a directory, else the error number (ENOTDIR for
// anything else): FindFirstFileW reports a missing directory as an empty
// listing on some systems, so it is looked at first.
inline int require_directory(const wchar_t* path) {
    DWORD attributes = ::GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return fail_last();
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        errno = ENOTDIR;
        return ENOTDIR;
    }
    return 0;
}

// The pattern FindFirstFileW takes for every entry of the directory `path`:
// the path, a separator unless it ends in one (or is a bare drive), and "*".
inline std::wstring search_path_of(const wchar_t* path) {
    std::wstring search_path(path);
    if (search_path.empty()) {
        search_path = L".";
    }
    const wchar_t end = search_path.back();
    if (end != L'\\' && end != L'/' && !(search_path.size() == 2 && end == L':')) {
        search_path.push_back(L'\\');
    }
    search_path.push_back(L'*');
    return search_path;
}

}  // namespace korvane::platform::win32

#endif
