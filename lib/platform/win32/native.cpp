#include "platform/win32/native.h"

#include <cerrno>

namespace korvane::platform::win32 {

int errno_from_win32(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS:
            return 0;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_NO_MORE_FILES:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_CANNOT_MAKE:
        case ERROR_DIR_NOT_EMPTY:
            return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        case ERROR_INVALID_PARAMETER:
        case ERROR_INVALID_HANDLE:
        case ERROR_NEGATIVE_SEEK:
        case ERROR_DIRECTORY:
            return EINVAL;
        case ERROR_HANDLE_EOF:
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE:
        case ERROR_SECTOR_NOT_FOUND:
        case ERROR_NOT_READY:
            return EIO;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return ENOMEM;
        case ERROR_TOO_MANY_OPEN_FILES:
            return EMFILE;
        default:
            return ENOSYS;
    }
}

int fail(DWORD error) {
    int number = errno_from_win32(error);
    errno = number;
    return number;
}

namespace {

wchar_t upper(wchar_t c) {
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

bool starts_with_folded(std::wstring_view text, std::wstring_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upper(text[i]) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// "X:\\..." after a namespace prefix, or "UNC\\..."; "X:" alone is the volume
// itself, a device.
bool names_volume_path(std::wstring_view rest) {
    const bool drive =
        rest.size() >= 3 && rest[1] == L':' && (rest[2] == L'\\' || rest[2] == L'/') &&
        ((rest[0] >= L'A' && rest[0] <= L'Z') || (rest[0] >= L'a' && rest[0] <= L'z'));
    return drive || starts_with_folded(rest, L"UNC\\");
}

bool is_reserved_name(std::wstring_view component) {
    // The name counts up to its first dot, without trailing blanks.
    std::wstring_view base = component.substr(0, component.find(L'.'));
    while (!base.empty() && base.back() == L' ') {
        base.remove_suffix(1);
    }
    for (std::wstring_view name : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (base.size() == name.size() && starts_with_folded(base, name)) {
            return true;
        }
    }
    if (base.size() != 4 ||
        !(starts_with_folded(base, L"COM") || starts_with_folded(base, L"LPT"))) {
        return false;
    }
    // COM1-9, LPT1-9 and the superscript digits 1-3, which Windows takes too.
    const wchar_t digit = base[3];
    return (digit >= L'1' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' ||
           digit == L'\u00B3';
}

}  // namespace

bool names_device(std::wstring_view path) {
    if (path.size() >= 4 && (path[0] == L'\\' || path[0] == L'/') &&
        (path[1] == L'\\' || path[1] == L'/') && (path[2] == L'.' || path[2] == L'?') &&
        (path[3] == L'\\' || path[3] == L'/')) {
        return !names_volume_path(path.substr(4));
    }
    const std::size_t last = path.find_last_of(L"\\/:");
    return is_reserved_name(last == std::wstring_view::npos ? path : path.substr(last + 1));
}

std::wstring from_utf8(std::string_view bytes) {
    if (bytes.empty()) {
        return {};
    }
    int units =
        ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(units), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(),
                          units);
    return out;
}

std::string to_utf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                     nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

}  // namespace korvane::platform::win32
