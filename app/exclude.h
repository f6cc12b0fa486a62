// Exclude patterns: which names a creation, an update and an audit pass over.
#ifndef KORVANE_APP_EXCLUDE_H
#define KORVANE_APP_EXCLUDE_H

#include <string>
#include <string_view>
#include <vector>

namespace korvane::app {

// Whether `text` matches `pattern` whole: `*` any run and `?` any one unit,
// neither across a '/'; `**` any run, '/' included; `**/` also no folder at
// all, so "**/b" matches "b". Every other unit matches itself (on Windows,
// ASCII letters in either case). No backtracking blow-up: a table of
// pattern by text positions.
bool glob_match(std::wstring_view pattern, std::wstring_view text);

// Whether the exclude `pattern` takes a name, `relative` as its path below
// the walked folder ("a/b.tmp" for photos/a/b.tmp in a walk of photos): the
// pattern is matched against that path and against its last component; one
// ending in '/' takes folders only.
bool exclude_matches(std::wstring_view pattern, std::wstring_view relative, bool is_folder);

// The --exclude patterns of a run.
class exclude_list {
  public:
    void add(std::wstring pattern) { patterns_.push_back(std::move(pattern)); }
    bool empty() const { return patterns_.empty(); }
    std::size_t size() const { return patterns_.size(); }
    bool operator==(const exclude_list&) const = default;

    // A name the walk met below its folder.
    bool takes(std::wstring_view relative, bool is_folder) const;
    // A name given rather than walked (a file argument, a name read from a
    // list of names, a list's entry): taken when the whole name, or any folder
    // in it, is. "." and ".." components and the separators are passed over,
    // so "./.git/x" and ".git/x" are judged alike and "." never is.
    bool takes_named(std::wstring_view path, bool is_folder) const;

  private:
    std::vector<std::wstring> patterns_;
};

}  // namespace korvane::app

#endif
