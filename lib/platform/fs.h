// File status and directory search.
#ifndef KORVANE_PLATFORM_FS_H
#define KORVANE_PLATFORM_FS_H

#include <cstdint>
#include <string>
#include <vector>

namespace korvane::platform {

struct file_info {
    bool is_directory = false;
    bool is_regular = false;
    bool owner_read = false;
    std::uint64_t size = 0;
    // 100-ns ticks since 1601-01-01 UTC.
    std::uint64_t write_time = 0;
    // The later of the modification time and the status-change time (the
    // creation time on Windows): a file restored with its old modification
    // time still counts as changed.
    std::uint64_t change_time = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};

// Follows symbolic links. Returns 0, or the C runtime's error number (ENOENT,
// EACCES, ...); a path that cannot be represented natively gives EINVAL.
int get_file_info(const wchar_t* path, file_info& out);

// Searches the file system for `pattern`, whose last component may hold the
// wildcards '*' and '?'; every other character matches itself. Appends the bare
// names of the matches (no directory part), sorted byte-wise, "." and ".." among
// them when they match. A pattern without wildcards is looked up directly.
// Returns 0 (possibly with no match) or the error number of a failed listing.
int find_matches(const wchar_t* pattern, std::vector<std::wstring>& names);

// Lists every entry of a directory, "." and ".." included, sorted byte-wise.
// Returns 0 or the error number of the failed listing.
int list_directory(const wchar_t* path, std::vector<std::wstring>& names);

// True when `name` matches `pattern` ('*' any run, '?' any one unit).
bool wildcard_match(const wchar_t* pattern, const wchar_t* name);

// Current error number of the C runtime (errno), for callers outside this layer.
int last_error();
void set_last_error(int value);

// Error numbers the rest of korvane must recognise without OS headers.
extern const int error_not_found;   // ENOENT
extern const int error_io;          // EIO
extern const int error_access;      // EACCES
extern const int error_exists;      // EEXIST
extern const int error_invalid;     // EINVAL

}  // namespace korvane::platform

#endif
