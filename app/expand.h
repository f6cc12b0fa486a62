// File arguments: expansion against the file system and the directory walk.
#ifndef KORVANE_APP_EXPAND_H
#define KORVANE_APP_EXPAND_H

#include <string>

#include "paths.h"

namespace korvane::app {

enum class checksum_type { sfv = 0, md5 = 1 };

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

// 0 for ".sfv", 1 for ".md5" (ASCII case ignored), -1 otherwise.
int type_from_extension(const wchar_t* name);

// Expands one file argument. Returns 0 to go on, or the status with which the
// program must end.
int expand_argument(const wchar_t* argument, run_settings& settings, expansion_state& state);

}  // namespace korvane::app

#endif
