#include "expand.h"

#include <cwchar>
#include <span>
#include <string_view>
#include <vector>

#include "platform/fs.h"
#include "platform/listing.h"
#include "platform/text.h"
#include "report.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

constexpr status out_of_memory_status = status::unknown_error;

[[nodiscard]] status out_of_memory(reporter& report) {
    report.out_of_memory();
    return out_of_memory_status;
}

path_record* take_record(expansion_state& state, const wchar_t* text, std::size_t length,
                         const platform::file_info& info) {
    path_record* record = state.pool.take(text, length);
    if (record != nullptr) {
        record->device = info.device;
        record->inode = info.inode;
    }
    return record;
}

// What the files' taker still has to say comes out before the expansion's
// own messages.
[[nodiscard]] status settle(expansion_state& state) {
    return state.settle_found ? state.settle_found() : status::ok;
}

// Reports a problem of the expansion in its place among what was found.
[[nodiscard]] status problem_met(expansion_state& state, reporter& report,
                                 const walk_problem& problem) {
    const status settled = settle(state);
    report.walk_problem_met(problem);
    return settled;
}

// A path too long to build ends the program.
[[nodiscard]] status path_too_long(expansion_state& state, reporter& report) {
    (void)settle(state);
    report.path_too_long();
    return status::path_error;
}

bool is_dot_name(const std::wstring& name) {
    return name == L"." || name == L"..";
}

// What one walk keeps from directory to directory: one listing, whose buffer
// serves every directory in turn, and the name it gave last.
struct walk_context {
    std::uint64_t root_device;
    std::size_t root_length;  // of the walked folder's path, whose names the excludes see below it
    const run_settings& settings;
    expansion_state& state;
    reporter& report;
    platform::sorted_listing listing;
    std::wstring name;
};

// Whether the directory `info` describes is `directory` or one of its
// ancestors: a link back up the tree would be walked forever.
bool is_directory_loop(const path_record* directory, const platform::file_info& info) {
    for (const path_record* up = directory; up != nullptr; up = up->parent) {
        if (up->device == info.device && up->inode == info.inode) {
            return true;
        }
    }
    return false;
}

// Drops one hold on `directory`: a directory that nothing holds any more goes
// back to the pool, and with it its hold on its parent.
void drop_hold(path_record* directory, path_pool& pool) {
    while (directory != nullptr && --directory->holds == 0) {
        path_record* parent = directory->parent;
        pool.release(directory);
        directory = parent;
    }
}

// Whether the folder `folder` is the directory being listed, whose own files
// a scratch file there could join.
bool is_listed_directory(const std::wstring& folder, const platform::file_info& directory) {
    platform::file_info info;
    return platform::get_file_info(folder.c_str(), info) == 0 && info.device == directory.device &&
           info.inode == directory.inode;
}

// Makes the scratch file beside the creation target, which the user named as
// a place to write, unless its folder is the directory being listed.
bool made_beside_target(const run_settings& settings, const platform::file_info& directory,
                        platform::native_file& file) {
    if (!settings.has_target) {
        return false;
    }
    const std::wstring& target = settings.creation_target;
    const std::size_t folder_length = platform::directory_part_length(target);
    const std::wstring folder =
        folder_length == 0 ? std::wstring(L".") : target.substr(0, folder_length);
    return !is_listed_directory(folder, directory) &&
           file.create_scratch_beside(target.c_str()) == 0;
}

// Makes the scratch file a directory too large to sort in memory spills into:
// beside the creation target, or else (also when that folder has no room) in
// the system's temporary folder; never in the directory being listed.
int make_scratch_file(const run_settings& settings, const platform::file_info& directory,
                      platform::native_file& file) {
    if (made_beside_target(settings, directory, file)) {
        return 0;
    }
    std::wstring temporary;
    if (int error = platform::temporary_folder(temporary); error != 0) {
        return error;
    }
    if (is_listed_directory(temporary, directory)) {
        return platform::error_access;
    }
    temporary += L"/korvane";
    return file.create_scratch_beside(temporary.c_str());
}

// Queues the subdirectory at `path` below `directory` unless it lies on another
// file system the settings keep out, or would close a loop.
[[nodiscard]] status queue_subdirectory(path_record* directory, const wchar_t* path,
                                        std::size_t length, const platform::file_info& info,
                                        walk_context& walk) {
    if (walk.settings.one_file_system && info.device != walk.root_device) {
        return status::ok;
    }
    if (is_directory_loop(directory, info)) {
        return problem_met(walk.state, walk.report, {walk_issue::directory_loop, path});
    }
    path_record* record = take_record(walk.state, path, length, info);
    if (record == nullptr) {
        return out_of_memory(walk.report);
    }
    record->parent = directory;
    record->holds = 1;
    ++directory->holds;
    walk.state.directories.append(record);
    return status::ok;
}

// Whether a file found would go into a list that cannot hold its name (an
// SFV or xxhsum line ends at a line break; a digest list escapes it). Said
// when the file is found, so that nothing is hashed for a list that will not
// be written.
bool unstorable(const run_settings& settings, const wchar_t* path, std::size_t length) {
    return (settings.has_target || settings.update) &&
           !type_row(settings.type).can_hold_name(path, length);
}

[[nodiscard]] status refuse_unstorable(const wchar_t* path, const run_settings& settings,
                                       expansion_state& state, reporter& report) {
    walk_problem problem{walk_issue::unstorable_name, path};
    problem.list_type = settings.type;
    (void)problem_met(state, report, problem);
    return status::path_error;
}

// A regular file found goes to whoever takes the files.
[[nodiscard]] status hand_over(path_record* record, expansion_state& state) {
    if (!state.file_added) {
        state.pool.release(record);
        return status::ok;
    }
    return state.file_added(record);
}

// Adds the regular file at `path` to the files to hash if it may be read.
[[nodiscard]] status add_regular_file(const wchar_t* path, std::size_t length,
                                      const platform::file_info& info, expansion_state& state,
                                      reporter& report) {
    if (!info.owner_read) {
        return problem_met(state, report, {walk_issue::unreadable_file, path});
    }
    path_record* record = take_record(state, path, length, info);
    if (record == nullptr) {
        return out_of_memory(report);
    }
    return hand_over(record, state);
}

// Adds a file the listing called regular without a look at its status: the
// taker looks as it opens the file (no identity yet, the owner-read check
// still to make), which spares the walk a status query for every file.
[[nodiscard]] status add_unexamined_file(const wchar_t* path, std::size_t length,
                                         expansion_state& state, reporter& report) {
    path_record* record = state.pool.take(path, length);
    if (record == nullptr) {
        return out_of_memory(report);
    }
    record->look = examination::pending;
    return hand_over(record, state);
}

// Looks at the name the listing gave last in `directory`, whose path (with a
// separator after it) already fills the first `directory_length` + 1 units of
// the path buffer. Returns ok to go on, or the status with which the program
// must end.
[[nodiscard]] status visit_entry(path_record* directory, std::size_t directory_length,
                                 walk_context& walk) {
    wchar_t* buffer = walk.state.path_buffer;
    const std::wstring& name = walk.name;
    const std::size_t length = directory_length + 1 + name.size();
    if (length >= path_buffer_units) {
        return path_too_long(walk.state, walk.report);
    }
    std::wmemcpy(buffer + directory_length + 1, name.c_str(), name.size() + 1);
    const exclude_list& excludes = walk.settings.excludes;
    const std::wstring_view below(buffer + walk.root_length + 1, length - walk.root_length - 1);
    if (walk.state.examine_later && walk.listing.regular()) {
        if (!excludes.empty() && excludes.takes(below, false)) {
            return status::ok;
        }
        if (unstorable(walk.settings, buffer, length)) {
            return refuse_unstorable(buffer, walk.settings, walk.state, walk.report);
        }
        return add_unexamined_file(buffer, length, walk.state, walk.report);
    }

    platform::file_info info;
    if (int error = walk.listing.entry_info(buffer, info); error != 0) {
        const status met = problem_met(walk.state, walk.report,
                                       {walk_issue::stat_failed, buffer, from_errno(error)});
        if (error == platform::error_not_found) {
            return met;  // vanished since the listing
        }
        return from_errno(error);
    }
    if (!excludes.empty() && (info.is_directory || info.is_regular) &&
        excludes.takes(below, info.is_directory)) {
        return status::ok;  // an excluded folder is not entered
    }
    if (info.is_directory) {
        return queue_subdirectory(directory, buffer, length, info, walk);
    }
    if (info.is_regular) {
        if (unstorable(walk.settings, buffer, length)) {
            return refuse_unstorable(buffer, walk.settings, walk.state, walk.report);
        }
        return add_regular_file(buffer, length, info, walk.state, walk.report);
    }
    return status::ok;
}

// A directory that could not be listed, or whose listing broke off, ends the
// walk.
[[nodiscard]] status listing_failed(const path_record* directory, int error, walk_context& walk) {
    if (error == platform::error_no_memory) {
        return out_of_memory(walk.report);
    }
    (void)problem_met(walk.state, walk.report,
                      {walk_issue::unlistable_directory, directory->text, from_errno(error)});
    return status::file_read_error;
}

// Visits every name the open listing of `directory` gives, in order.
[[nodiscard]] status visit_names(path_record* directory, walk_context& walk) {
    const std::size_t directory_length = std::wcslen(directory->text);
    std::wmemcpy(walk.state.path_buffer, directory->text, directory_length);
    walk.state.path_buffer[directory_length] = L'/';
    for (;;) {
        const int got = walk.listing.next(walk.name);
        if (got <= 0) {
            return got == 0 ? status::ok : listing_failed(directory, -got, walk);
        }
        if (is_dot_name(walk.name)) {
            continue;
        }
        if (status result = visit_entry(directory, directory_length, walk); result != status::ok) {
            return result;
        }
    }
}

// Lists one directory and visits every name in it.
[[nodiscard]] status walk_directory(path_record* directory, walk_context& walk) {
    auto make_scratch = [&walk, directory](platform::native_file& file) {
        platform::file_info identity;
        identity.device = directory->device;
        identity.inode = directory->inode;
        return make_scratch_file(walk.settings, identity, file);
    };
    if (int error = walk.listing.open(directory->text, make_scratch); error != 0) {
        return listing_failed(directory, error, walk);
    }
    status result = visit_names(directory, walk);
    walk.listing.close();
    return result;
}

// Walks `start`, the one directory queued, and every directory queued after
// it, breadth first. A walked directory goes back to the pool as soon as no
// directory below it waits, so the walk holds the waiting directories and
// their ancestors only; however the walk ends, the queue is empty after it.
[[nodiscard]] status walk(path_record* start, const run_settings& settings, expansion_state& state,
                          reporter& report) {
    const std::size_t budget =
        state.listing_budget != 0 ? state.listing_budget : platform::sorted_listing::default_budget;
    walk_context walk{start->device, std::wcslen(start->text),         settings, state,
                      report,        platform::sorted_listing(budget), {}};
    start->holds = 1;
    status result = status::ok;
    while (result == status::ok && state.directories.head != nullptr) {
        path_record* directory = state.directories.head;
        result = walk_directory(directory, walk);
        drop_hold(state.directories.pop_front(), state.pool);
    }
    while (path_record* waiting = state.directories.pop_front()) {
        drop_hold(waiting, state.pool);
    }
    return result;
}

}  // namespace

namespace {

// The first row one of whose names (as `names_of` gives them) is `text`,
// ASCII case ignored; -1 when none is.
template <class names_getter>
int find_type(std::wstring_view text, names_getter names_of) {
    for (int type = 0; type < list_type::count(); ++type) {
        for (const wchar_t* name : names_of(type_row(type))) {
            if (name != nullptr &&
                platform::equal_ignoring_ascii_case(text, std::wstring_view(name))) {
                return type;
            }
        }
    }
    return -1;
}

}  // namespace

int type_from_extension(const wchar_t* name) {
    const wchar_t* dot = std::wcsrchr(name, L'.');
    if (dot == nullptr) {
        return -1;
    }
    return find_type(dot, [](const list_type& row) { return std::span(row.extensions); });
}

int type_from_name(const wchar_t* name) {
    int type = type_from_extension(name);
    if (type != -1) {
        return type;
    }
    const wchar_t* bare = name + platform::directory_part_length(name);
    return find_type(bare, [](const list_type& row) { return std::span(row.bare_names); });
}

std::vector<int> types_alike(int type) {
    std::vector<int> alike;
    const list_type& row = type_row(type);
    for (int other = 0; other < list_type::count(); ++other) {
        const list_type& candidate = type_row(other);
        if (other != type && row.form != list_type::line_form::crc &&
            candidate.form != list_type::line_form::crc &&
            candidate.digest_size == row.digest_size) {
            alike.push_back(other);
        }
    }
    return alike;
}

int type_from_word(const wchar_t* word) {
    return find_type(word, [](const list_type& row) { return std::span(&row.word, 1); });
}

namespace {

// The first match of any file argument is the checksum file a verification
// reads; its name may also give the type.
void remember_checksum_file(const std::wstring& path, run_settings& settings) {
    settings.has_checksum_file = true;
    settings.checksum_file = path;
    if (settings.has_target || settings.type_forced) {
        return;
    }
    if (int type = type_from_name(path.c_str()); type != -1) {
        settings.type = type;
    }
}

// Whether a match is left out quietly: neither file nor directory, or a
// directory without recursion.
bool skip_match(const platform::file_info& info, const run_settings& settings) {
    if (!info.is_directory && !info.is_regular) {
        return true;
    }
    return info.is_directory && !settings.recursive;
}

// Adds one match of a file argument: a regular file to the files to hash, a
// directory (recursion on) to the directories with everything below it.
// Returns ok to go on, or the status with which the program must end.
[[nodiscard]] status add_match(const std::wstring& path, const run_settings& settings,
                               expansion_state& state, reporter& report) {
    platform::file_info info;
    if (platform::get_file_info(path.c_str(), info) != 0) {
        return problem_met(state, report,
                           {walk_issue::stat_failed, path.c_str(), status::ok, true});
    }
    if (skip_match(info, settings) || settings.excludes.takes_named(path, info.is_directory)) {
        return status::ok;
    }
    if (path.size() >= path_buffer_units) {
        return path_too_long(state, report);
    }
    if (info.is_regular && unstorable(settings, path.c_str(), path.size())) {
        return refuse_unstorable(path.c_str(), settings, state, report);
    }
    if (info.is_regular && !info.owner_read) {
        return problem_met(state, report, {walk_issue::unreadable_file, path.c_str()});
    }
    path_record* record = take_record(state, path.c_str(), path.size(), info);
    if (record == nullptr) {
        return out_of_memory(report);
    }
    if (info.is_regular) {
        return hand_over(record, state);
    }
    state.directories.append(record);
    return walk(record, settings, state, report);
}

}  // namespace

namespace {

// The folder a wildcard's directory part names: "." for none, the part
// without its separator otherwise (a root, or a drive's current folder, as
// it is).
std::wstring folder_of(const std::wstring& directory_part) {
    if (directory_part.empty()) {
        return L".";
    }
    std::wstring folder = directory_part;
    if (folder.size() == 2 && folder[1] == L':') {
        return folder + L".";  // "C:": the drive's current folder
    }
    platform::strip_trailing_separators(folder);
    return folder;
}

// Visits the names of the folder `directory_part` names that match the
// wildcard `last`, in byte order and one at a time: a folder of millions of
// matches costs its listing's budget, never a string a match. A folder that
// cannot be listed matches nothing, as a failed search does.
[[nodiscard]] status visit_wildcard_matches(
    const std::wstring& directory_part, const std::wstring& last, const run_settings& settings,
    expansion_state& state, reporter& report,
    const std::function<status(const std::wstring&)>& visit) {
    const std::wstring folder = folder_of(directory_part);
    platform::file_info identity;
    if (platform::get_file_info(folder.c_str(), identity) != 0 || !identity.is_directory) {
        return status::ok;
    }
    platform::sorted_listing listing(state.listing_budget != 0
                                         ? state.listing_budget
                                         : platform::sorted_listing::default_budget);
    std::wstring wide;
    bool short_of_memory = false;  // a name dropped for it would go unseen
    auto matches = [&last, &wide, &short_of_memory](std::string_view native) {
        if (!platform::sorted_listing::wide_name(native, wide)) {
            short_of_memory = true;
            return false;
        }
        return platform::wildcard_match(last.c_str(), wide.c_str());
    };
    auto make_scratch = [&settings, &identity](platform::native_file& file) {
        return make_scratch_file(settings, identity, file);
    };
    const int error = listing.open(folder.c_str(), make_scratch, matches);
    if (error == platform::error_no_memory || short_of_memory) {
        return out_of_memory(report);
    }
    if (error != 0) {
        return status::ok;
    }
    std::wstring name;
    for (;;) {
        const int got = listing.next(name);
        if (got <= 0) {
            if (got == 0) {
                return status::ok;
            }
            (void)problem_met(state, report,
                              {walk_issue::unlistable_directory, folder.c_str(), from_errno(-got)});
            return status::file_read_error;
        }
        if (status result = visit(name); result != status::ok) {
            return result;
        }
    }
}

}  // namespace

status walk_folder(const std::wstring& folder, const run_settings& settings, expansion_state& state,
                   reporter& report) {
    platform::file_info info;
    int error = platform::get_file_info(folder.c_str(), info);
    if (error == 0 && !info.is_directory) {
        error = platform::error_not_found;
    }
    if (error != 0) {
        report.walk_problem_met(
            {walk_issue::unlistable_directory, folder.c_str(), from_errno(error)});
        return status::file_read_error;
    }
    if (folder.size() >= path_buffer_units) {
        return path_too_long(state, report);
    }
    path_record* record = take_record(state, folder.c_str(), folder.size(), info);
    if (record == nullptr) {
        return out_of_memory(report);
    }
    state.directories.append(record);
    return walk(record, settings, state, report);
}

status expand_argument(const wchar_t* argument, run_settings& settings, expansion_state& state,
                       reporter& report, bool verbatim) {
    std::wstring pattern(argument);
    // "sub/" names the directory sub, as it does for every other tool.
    platform::strip_trailing_separators(pattern);
    const std::size_t directory_length = platform::directory_part_length(pattern);
    const std::wstring directory_part = pattern.substr(0, directory_length);
    const bool has_wildcards =
        !verbatim && pattern.find_first_of(L"*?", directory_length) != std::wstring::npos;

    auto visit = [&](const std::wstring& name) {
        const bool dot_name = is_dot_name(name);
        // "." and ".." from a listing are never wanted; typed literally they name
        // a directory like any other.
        if (dot_name && has_wildcards) {
            return status::ok;
        }
        const std::wstring path = directory_part + name;
        if (!dot_name && !settings.has_checksum_file) {
            remember_checksum_file(path, settings);
        }
        if (settings.has_target && path == settings.creation_target) {
            return status::ok;
        }
        return add_match(path, settings, state, report);
    };
    status result = status::ok;
    if (has_wildcards) {
        result = visit_wildcard_matches(directory_part, pattern.substr(directory_length), settings,
                                        state, report, visit);
    } else {
        std::vector<std::wstring> names;  // one at most: the name looked up
        const bool has_wildcard_units =
            pattern.find_first_of(L"*?", directory_length) != std::wstring::npos;
        if (has_wildcard_units) {
            // A listed name holding '*' or '?' is that name: looked at as it is.
            names.push_back(pattern.substr(directory_length));
        } else if (platform::find_matches(pattern.c_str(), names) == platform::error_no_memory) {
            // A failed search matches nothing, but a search cut short by memory
            // would pass a partial set of files off as all of them.
            return out_of_memory(report);
        }
        for (const std::wstring& name : names) {
            if (result = visit(name); result != status::ok) {
                break;
            }
        }
    }
    if (result != status::ok) {
        return result;
    }
    // Whatever the walk of this argument left to say is said before anything
    // a later argument brings.
    return settle(state);
}

}  // namespace korvane::app
