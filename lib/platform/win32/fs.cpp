#include "platform/fs.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "platform/fault.h"
#include "platform/win32/native.h"

namespace korvane::platform {

namespace {

// An identity for a file whose handle could not be opened: the same full path
// always gives the same value and different paths practically never do, so
// neither the self-skip nor the loop test can confuse two such files.
void identity_from_path(const wchar_t* path, file_info& out) {
    wchar_t full[MAX_PATH * 4];
    DWORD length = ::GetFullPathNameW(path, MAX_PATH * 4, full, nullptr);
    std::wstring text =
        length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : std::wstring(path);
    ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    std::uint64_t hash = 14695981039346656037ULL;
    for (wchar_t unit : text) {
        hash = (hash ^ static_cast<std::uint16_t>(unit)) * 1099511628211ULL;
    }
    out.device = ~std::uint64_t{0};
    out.inode = hash;
}

void fill_times(const FILETIME& write, const FILETIME& creation, file_info& out) {
    out.write_time = win32::ticks(write);
    out.change_time = std::max(out.write_time, win32::ticks(creation));
}

// NTFS also keeps a change time, which the file system sets on every change
// and which the tools that copy or restore files with their old stamps
// (SetFileTime) leave alone. Zero where a volume has none.
void add_change_time(HANDLE file, file_info& out) {
    FILE_BASIC_INFO basic;
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        auto change = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
        out.change_time = std::max(out.change_time, change);
    }
}

// Matching as Windows users expect: without regard to case.
bool matches_ignoring_case(std::wstring pattern, std::wstring name) {
    ::CharUpperBuffW(pattern.data(), static_cast<DWORD>(pattern.size()));
    ::CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    return wildcard_match(pattern.c_str(), name.c_str());
}

// Lists `search` (a directory followed by a pattern). With `filter`, a name is
// kept only when its long form matches it: the OS also matches the short 8.3
// names, so "*.sfv" would find "d.sfvx" through "D~1.SFV".
[[nodiscard]] int search(const std::wstring& search_path, const wchar_t* filter,
                         std::vector<std::wstring>& names) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(search_path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0
                                                                             : win32::fail(error);
    }
    std::vector<std::wstring> found;
    DWORD error = ERROR_SUCCESS;
    do {
        if (filter == nullptr || matches_ignoring_case(filter, data.cFileName)) {
            found.emplace_back(data.cFileName);
        }
        if (!::FindNextFileW(find, &data)) {
            error = ::GetLastError();
            break;
        }
    } while (true);
    ::FindClose(find);
    if (error != ERROR_NO_MORE_FILES) {
        return win32::fail(error);
    }
    std::sort(found.begin(), found.end());  // code-unit order: deterministic output
    names.reserve(names.size() + found.size());
    for (auto& name : found) {
        names.push_back(std::move(name));
    }
    return 0;
}

}  // namespace

int canonical_path(const wchar_t* path, std::wstring& out) {
    DWORD needed = ::GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0) {
        return win32::fail_last();
    }
    std::wstring full(needed, L'\0');
    DWORD length = ::GetFullPathNameW(path, needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return win32::fail_last();
    }
    full.resize(length);
    out = std::move(full);
    return 0;
}

int get_file_system(const wchar_t* path, file_system_info& out) {
    out = file_system_info{};
    if (injected_untrusted_file_systems()) {
        out.name = L"untrusted-for-test";
        return 0;
    }
    win32::handle_owner file(
        ::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid()) {
        return win32::fail_last();
    }
    wchar_t name[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(file.get(), nullptr, 0, nullptr, nullptr, nullptr, name,
                                         MAX_PATH + 1)) {
        return win32::fail_last();
    }
    // Only files on a network share answer this query.
    FILE_REMOTE_PROTOCOL_INFO remote;
    bool is_remote = ::GetFileInformationByHandleEx(file.get(), FileRemoteProtocolInfo, &remote,
                                                    sizeof remote) != 0;
    try {
        out = windows_file_system(name, is_remote);
    } catch (const std::bad_alloc&) {
        out = file_system_info{};
        return ENOMEM;
    }
    return 0;
}

int get_file_info(const wchar_t* path, file_info& out) {
    out = file_info{};
    // Opening the file (no access rights asked, every sharing allowed) follows
    // links and yields the volume and file index, korvane's file identity.
    win32::handle_owner file(
        ::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (file.valid() && ::GetFileInformationByHandle(file.get(), &info)) {
        out.is_directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out.is_regular = !out.is_directory && ::GetFileType(file.get()) == FILE_TYPE_DISK;
        out.owner_read = true;  // Windows has no owner-read bit; the C runtime reports it set
        out.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        fill_times(info.ftLastWriteTime, info.ftCreationTime, out);
        add_change_time(file.get(), out);
        out.device = info.dwVolumeSerialNumber;
        out.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        return 0;
    }
    if (file.valid()) {
        return win32::fail_last();
    }
    DWORD open_error = ::GetLastError();
    if (open_error == ERROR_FILE_NOT_FOUND || open_error == ERROR_PATH_NOT_FOUND ||
        open_error == ERROR_INVALID_NAME) {
        return win32::fail(open_error);
    }
    // Some files cannot be opened even for their attributes (held exclusively
    // by the system): the directory entry still tells what they are.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
        return win32::fail_last();
    }
    out.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.is_regular = !out.is_directory && (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) == 0;
    out.owner_read = true;
    out.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    fill_times(data.ftLastWriteTime, data.ftCreationTime, out);
    identity_from_path(path, out);
    return 0;
}

int find_matches(const wchar_t* pattern, std::vector<std::wstring>& names) {
    const std::wstring text(pattern);
    const std::wstring last = text.substr(directory_part_length(text));
    if (last.find_first_of(L"*?") == std::wstring::npos) {
        // No wildcard: a direct lookup, which also finds names a listing of an
        // unreadable directory could not. The name is reported as typed.
        if (last.empty() || ::GetFileAttributesW(pattern) == INVALID_FILE_ATTRIBUTES) {
            return 0;
        }
        names.push_back(last);
        return 0;
    }
    int error = search(text, last.c_str(), names);
    // A directory that cannot be listed simply yields no matches.
    return error == ENOENT || error == EACCES ? 0 : error;
}

int list_directory(const wchar_t* path, std::vector<std::wstring>& names) {
    const std::wstring search_path = win32::search_path_of(path);
    if (int error = win32::require_directory(path); error != 0) {
        return error;
    }
    return search(search_path, nullptr, names);
}

}  // namespace korvane::platform
