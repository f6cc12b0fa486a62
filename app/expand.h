// File arguments: expansion against the file system and the directory walk.
#ifndef KORVANE_APP_EXPAND_H
#define KORVANE_APP_EXPAND_H

#include <functional>
#include <string>

#include "paths.h"
#include "status.h"

namespace korvane::app {

class reporter;

// The numbers are those of container::detectFormat.
enum class checksum_type { sfv = 0, md5 = 1, sha1 = 2, sha256 = 3, sha512 = 4 };

// What the option pass collects.
struct run_settings {
    bool has_target = false;
    std::wstring creation_target;
    bool has_checksum_file = false;
    std::wstring checksum_file;  // the first match of any file argument
    bool has_parent = false;
    std::wstring parent;
    checksum_type type = checksum_type::sfv;
    bool type_forced = false;
    bool recursive = false;
    bool quiet = false;
    bool doall = false;
    bool one_file_system = false;
    int jobs = 0;  // files in flight; 0 when the command line does not say
};

// Everything the expansion builds; lists are given back to the pool when this
// goes away, however the program ends.
struct expansion_state {
    path_pool pool;
    path_list files;
    path_list directories;
    wchar_t path_buffer[path_buffer_units] = {};
    // Called with every file appended to `files`, while the expansion goes on.
    std::function<void(path_record*)> file_added;

    expansion_state() = default;
    ~expansion_state() { release(); }
    expansion_state(const expansion_state&) = delete;
    expansion_state& operator=(const expansion_state&) = delete;

    void release() {
        files.release_all(pool);
        directories.release_all(pool);
        pool.free_all();
    }
};

// The type a name's extension gives (ASCII case ignored): 0 for ".sfv", 1 for
// ".md5" and ".md5sum", 2 to 4 for ".sha1", ".sha256", ".sha512" and their
// "sum" forms; -1 otherwise.
int type_from_extension(const wchar_t* name);

// As type_from_extension, and also the bare names MD5SUMS, SHA1SUMS,
// SHA256SUMS and SHA512SUMS that releases publish (ASCII case ignored).
int type_from_name(const wchar_t* name);

// The type named after "-t": "sfv", "md5", "sha1", "sha256" or "sha512" (ASCII
// case ignored); -1 otherwise.
int type_from_word(const wchar_t* word);

// Expands one file argument, reporting what it passes over. Returns ok to go
// on, or the status with which the program must end.
[[nodiscard]] status expand_argument(const wchar_t* argument, run_settings& settings,
                                     expansion_state& state, reporter& report);

}  // namespace korvane::app

#endif
