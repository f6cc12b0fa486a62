// File arguments: expansion against the file system and the directory walk.
#ifndef KORVANE_APP_EXPAND_H
#define KORVANE_APP_EXPAND_H

#include <korvane/list_types.h>

#include <functional>
#include <string>
#include <vector>

#include "exclude.h"
#include "paths.h"
#include "shards.h"
#include "status.h"

namespace korvane::app {

class reporter;

// What the option pass collects.
struct run_settings {
    bool has_target = false;
    std::wstring creation_target;
    bool has_checksum_file = false;
    std::wstring checksum_file;  // the first match of any file argument
    bool has_parent = false;
    std::wstring parent;
    int type = list_type::default_type;  // a row of the list types
    bool type_forced = false;
    bool type_from_content = false;  // guessed from the list's first entry line
    bool recursive = false;
    bool quiet = false;
    bool doall = false;
    bool one_file_system = false;
    bool audit = false;              // a verification also reports the files the list does not name
    bool update = false;             // the list is rewritten to match its folder
    bool prune = false;              // an update drops the entries of files that are gone
    bool update_list_named = false;  // --update=LIST: every file argument is another file
    int file_arguments = 0;          // file arguments met so far
    // An update's file arguments after the list: the files to add or refresh
    // (expanded by the update, against the list it reads).
    // Each with the -r and -x in force where it stood, as a creation's are.
    struct named_file {
        std::wstring argument;
        bool recursive;
        bool one_file_system;
    };
    std::vector<named_file> update_files;
    // New digest lists record each file's size and modification time (the
    // configuration's "recordtimes" asks the same).
    bool record_times = false;
    bool json = false;  // results as JSON Lines on standard output
    // The check flags scripts know from the GNU tools' -c: missing files
    // neither said nor counted; nothing on standard output; improperly
    // formatted lines fail the run; each such line said; records ended by
    // NUL, names unescaped.
    bool ignore_missing = false;
    bool status_only = false;
    bool strict = false;
    bool warn = false;
    bool zero = false;
    // With any of the first four, an improperly formatted line is skipped and
    // counted rather than ending the run.
    bool check_flags() const { return ignore_missing || status_only || strict || warn; }
    // --exclude: names a creation, an update and an audit pass over, wherever
    // the option stands on the command line.
    exclude_list excludes;
    // --files-from: lists of names, read once the options are through; with
    // --null, NUL-separated rather than one a line.
    std::vector<std::wstring> files_from;
    bool null_separated = false;
    int jobs = 0;  // files in flight; 0 when the command line does not say
    // --shard: this run checks or hashes one shard of the work, and with
    // --results (a verification) or as its -c target (a creation) leaves
    // what it found for --merge, which takes the list and those files as
    // its file arguments.
    shard_choice shard;
    std::wstring results;
    bool merge = false;
    std::vector<std::wstring> merge_inputs;
    // The file arguments as given, each ended by a NUL: what a creation's
    // shards must agree on.
    std::wstring given_arguments;
};

// Everything the expansion builds; lists are given back to the pool when this
// goes away, however the program ends.
struct expansion_state {
    path_pool pool;
    path_list directories;
    wchar_t path_buffer[path_buffer_units] = {};
    // The bytes a directory's listing may take in memory before it is sorted
    // in runs on disk; 0 for the default of a few MiB (tests set less).
    std::size_t listing_budget = 0;
    // Called with every regular file found, in order, while the expansion
    // goes on; the record is handed over, to be given back to `pool`. A
    // status other than ok ends the program (reported by the callee). Without
    // it, found files are let go.
    std::function<status(path_record*)> file_added;
    // Whoever takes the files may get a regular file the listing named
    // without a look at its status (examination::pending): the walk sets no
    // identity on it and leaves the owner-read check to that taker.
    bool examine_later = false;
    // Called before the expansion reports a problem and at the end of each
    // argument: whatever the taker still has to say of the files found so
    // far comes out first. A status other than ok ends the program.
    std::function<status()> settle_found;

    expansion_state() = default;
    ~expansion_state() { release(); }
    expansion_state(const expansion_state&) = delete;
    expansion_state& operator=(const expansion_state&) = delete;

    void release() {
        directories.release_all(pool);
        pool.free_all();
    }
};

// The list type (its row number) a name's extension gives, ASCII case
// ignored: ".sfv", ".md5", ".md5sum", ".sha256" and the others of the rows;
// -1 otherwise.
int type_from_extension(const wchar_t* name);

// As type_from_extension, and also the bare names that releases publish, such
// as MD5SUMS and SHA256SUMS (ASCII case ignored).
int type_from_name(const wchar_t* name);

// The type named after "-t", a row's word such as "sfv" or "sha256" (ASCII
// case ignored); -1 otherwise.
int type_from_word(const wchar_t* word);

// The row of a type number the functions above gave.
inline const list_type& type_row(int type) {
    return *list_type::at(type);
}

// The other types whose plain lines look like `type`'s (digests of the same
// length, told apart only by a BSD tag, a prefix or the list's name), in the
// order of the rows: what to try when a guess from the content verified
// nothing. Empty for SFV and for a length no other type has.
std::vector<int> types_alike(int type);

// Expands one file argument, reporting what it passes over. Returns ok to go
// on, or the status with which the program must end.
// A name read from a list of names (`verbatim`) is a name: no wildcards.
[[nodiscard]] status expand_argument(const wchar_t* argument, run_settings& settings,
                                     expansion_state& state, reporter& report,
                                     bool verbatim = false);

// Walks the folder `folder` and everything below it as a recursive creation
// walk would, handing every regular file to `state.file_added`. Returns ok to
// go on, or the status with which the program must end (reported).
[[nodiscard]] status walk_folder(const std::wstring& folder, const run_settings& settings,
                                 expansion_state& state, reporter& report);

}  // namespace korvane::app

#endif
