// File status and directory search.
#ifndef KORVANE_PLATFORM_FS_H
#define KORVANE_PLATFORM_FS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::platform {

struct file_info {
    bool is_directory = false;
    bool is_regular = false;
    bool owner_read = false;
    std::uint64_t size = 0;
    // 100-ns ticks since 1601-01-01 UTC.
    std::uint64_t write_time = 0;
    // The later of the modification time and the status-change time (on
    // Windows the later of the last-write, creation and NTFS change times): a
    // file restored with its old modification time still counts as changed.
    std::uint64_t change_time = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Follows symbolic links. Returns 0, or the C runtime's error number (ENOENT,
// EACCES, ...); a path that cannot be represented natively gives EINVAL.
[[nodiscard]] int get_file_info(const wchar_t* path, file_info& out);

// The file system that holds a file, as far as a remembered verification is
// concerned: a name for messages ("ext4", "fuse", "NTFS"; "0x..." for a type
// without a name here), and whether the file system itself keeps a change
// time that no user can set back. Where the change time can be set (FAT and
// exFAT have none, FUSE and network file systems report what their server
// says, often the modification time), a file replaced under an old stamp
// would pass for unchanged.
struct file_system_info {
    std::wstring name;
    bool keeps_change_time = false;
};

// The file system of the file or folder at `path` (links followed). 0 or the
// error number; on failure `out` says nothing is kept.
[[nodiscard]] int get_file_system(const wchar_t* path, file_system_info& out);

// The classifications behind get_file_system, for both targets alike: by the
// type number Linux's statfs reports, and by the name Windows gives a
// volume's file system (`remote`: the volume is a network share).
file_system_info linux_file_system(std::uint64_t type);
file_system_info windows_file_system(std::wstring_view name, bool remote);

// The absolute path of `path` with every symbolic link, "." and ".." resolved
// (on Windows: the full path name). 0 or the error number.
[[nodiscard]] int canonical_path(const wchar_t* path, std::wstring& out);

// Searches the file system for `pattern`, whose last component may hold the
// wildcards '*' and '?'; every other character matches itself. Appends the bare
// names of the matches (no directory part), sorted byte-wise, "." and ".." among
// them when they match. A pattern without wildcards is looked up directly.
// Returns 0 (possibly with no match) or the error number of a failed listing.
[[nodiscard]] int find_matches(const wchar_t* pattern, std::vector<std::wstring>& names);

// Lists every entry of a directory, "." and ".." included, sorted byte-wise.
// Returns 0 or the error number of the failed listing.
[[nodiscard]] int list_directory(const wchar_t* path, std::vector<std::wstring>& names);

// True when `name` matches `pattern` ('*' any run, '?' any one unit).
bool wildcard_match(const wchar_t* pattern, const wchar_t* name);

// Path components end at '/' on every target, and at '\' as well on Windows.
constexpr bool is_path_separator(wchar_t c) {
#if defined(_WIN32)
    return c == L'/' || c == L'\\';
#else
    return c == L'/';
#endif
}

// The length of the directory part of `path`, its last separator included (on
// Windows a drive prefix such as "C:" counts as one); 0 when there is none.
inline std::size_t directory_part_length(std::wstring_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_path_separator(path[i - 1])) {
            return i;
        }
    }
#if defined(_WIN32)
    if (path.size() >= 2 && path[1] == L':') {
        return 2;
    }
#endif
    return 0;
}

// Drops separators at the end of `path` ("sub/" names the directory sub), but
// never the one that names a root ("/", "C:\\").
inline void strip_trailing_separators(std::wstring& path) {
    std::size_t keep = 1;
#if defined(_WIN32)
    if (path.size() >= 3 && path[1] == L':') {
        keep = 3;
    }
#endif
    while (path.size() > keep && is_path_separator(path.back())) {
        path.pop_back();
    }
}

// Current error number of the C runtime (errno), for callers outside this layer.
[[nodiscard]] int last_error();
void set_last_error(int value);

// Error numbers the rest of korvane must recognise without OS headers.
extern const int error_not_found;  // ENOENT
extern const int error_io;         // EIO
extern const int error_access;     // EACCES
extern const int error_exists;     // EEXIST
extern const int error_invalid;    // EINVAL
extern const int error_no_memory;  // ENOMEM

}  // namespace korvane::platform

#endif
