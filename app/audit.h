// The audit of a verification run: after the entries, the folder the names
// resolve against is walked as a creation there would walk it, and every
// regular file the list does not name is reported.
#ifndef KORVANE_APP_AUDIT_H
#define KORVANE_APP_AUDIT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "expand.h"
#include "status.h"

namespace korvane::app {

class reporter;

// A path as a key that compares as the file system resolves names: absolute
// (a relative path is taken below `current_key`, the key of the absolute
// current folder), "." and empty components dropped, ".." taking the
// component before it away, every separator one '/', and on Windows ASCII
// case folded. Bytes (UTF-8 for units above 127).
void name_key(std::wstring_view path, std::string_view current_key, std::string& key);

// The keys of every name a list holds, in one arena and an open-addressing
// table of offsets: some 20 bytes a name beside the names themselves, however
// many there are.
class listed_names {
  public:
    // False when memory ran out.
    [[nodiscard]] bool add(std::string_view key);
    bool contains(std::string_view key) const;
    std::size_t size() const { return count; }

  private:
    [[nodiscard]] bool grow();
    std::size_t find_slot(std::string_view key, std::uint64_t hash) const;
    std::string_view key_at(std::uint64_t offset) const;

    std::string arena;                 // each key: its length (4 bytes) and its bytes
    std::vector<std::uint64_t> slots;  // offset + 1 into the arena, 0 for empty
    std::size_t count = 0;
};

// What an audit needs to know: the folder the list's names resolve against
// (as the user gave it: "." when none was), and the list's own path.
struct audit_scope {
    std::wstring folder;
    std::wstring list_path;
    std::string current_key;  // of the absolute current folder
};

// The files korvane itself keeps beside a list, which no walk of its folder
// takes for the collection's: the list, its temporary files and the
// verification marker.
class own_files {
  public:
    explicit own_files(const audit_scope& scope);
    // `key` as name_key gives it for `path`.
    bool holds(std::string_view key, std::wstring_view path) const;

  private:
    bool is_list_temporary(std::wstring_view name, std::string_view key) const;

    std::string list_key;
    std::string list_folder_key;
    std::wstring list_base;  // the list's own name, for its temporary files
    // The verification marker, made in the current folder: that one, and one
    // in the audited folder, made by a run from there.
    std::string marker_key;
    std::string folder_marker_key;
};

// The scope of the run `settings` describe; false (with the error in `error`)
// when the current folder cannot be named.
[[nodiscard]] bool audit_scope_of(const run_settings& settings, audit_scope& scope, int& error);

// A walk that takes one shard's files only: every file found counts for its
// place among all (`found`), the files of shard `index` of `count` go on,
// the place of the one handed on last in `place`.
struct walk_shard {
    std::uint32_t index = 1;
    std::uint32_t count = 1;
    std::uint64_t found = 0;
    std::uint64_t place = 0;
};

// Walks the scope's folder as a creation there would walk it (links, loops
// and -x as a creation's walk treats them, its problems reported alike),
// skipping the list itself, its temporary files and the verification marker,
// and reports every regular file whose key `names` lacks; `unlisted` counts
// them. Returns ok, or the status the walk ended with (reported).
[[nodiscard]] status audit_folder(const audit_scope& scope, const listed_names& names,
                                  const run_settings& settings, expansion_state& state,
                                  reporter& report, int& unlisted);

// What a walk of the scope's folder does with a regular file the list does
// not name: `path` as walked, `relative` as a creation in the folder would
// write it. A status other than ok ends the walk.
using unlisted_handler = std::function<status(const wchar_t* path, std::wstring_view relative)>;

// The walk of audit_folder, handing each file the list does not name to
// `handle` (the audit reports it, an update adds it).
[[nodiscard]] status walk_unlisted(const audit_scope& scope, const listed_names& names,
                                   const run_settings& settings, expansion_state& state,
                                   reporter& report, const unlisted_handler& handle, int& unlisted,
                                   walk_shard* shard = nullptr);

}  // namespace korvane::app

#endif
