#include "expand.h"

#include <korvane/status.h>

#include <cwchar>
#include <initializer_list>
#include <vector>

#include "output.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

constexpr int out_of_memory_status = korvane_status::unknown_error;

bool equals_ignoring_ascii_case(const wchar_t* a, const wchar_t* b) {
    for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
        if (platform::ascii_lower(*a) != platform::ascii_lower(*b)) {
            return false;
        }
    }
    return *a == *b;
}

int out_of_memory() {
    print_error(L"Out of memory\n");
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

bool is_dot_name(const std::wstring& name) {
    return name == L"." || name == L"..";
}

// Walks `start` and every directory queued after it, breadth first.
int walk(path_record* start, const run_settings& settings, expansion_state& state) {
    const std::uint64_t root_device = start->device;
    wchar_t* buffer = state.path_buffer;
    std::vector<std::wstring> names;
    for (path_record* directory = start; directory != nullptr; directory = directory->next) {
        names.clear();
        int error = platform::list_directory(directory->text, names);
        if (error != 0) {
            print_error(L"Error reading directory %s: %s",
                        {directory->text, status_message(status_from_errno(error))});
            return korvane_status::file_read_error;
        }
        const std::size_t directory_length = std::wcslen(directory->text);
        std::wmemcpy(buffer, directory->text, directory_length);
        buffer[directory_length] = L'/';
        for (const std::wstring& name : names) {
            if (is_dot_name(name)) {
                continue;
            }
            const std::size_t length = directory_length + 1 + name.size();
            if (length >= path_buffer_units) {
                print_error(L"Path is too long\n");
                return korvane_status::path_error;
            }
            std::wmemcpy(buffer + directory_length + 1, name.c_str(), name.size() + 1);

            platform::file_info info;
            error = platform::get_file_info(buffer, info);
            if (error != 0) {
                print_error(L"Could not stat file %s: %s\n",
                            {buffer, status_message(status_from_errno(error))});
                if (error == platform::error_not_found) {
                    continue;  // vanished since the listing
                }
                return status_from_errno(error);
            }
            if (info.is_directory) {
                if (settings.one_file_system && info.device != root_device) {
                    continue;
                }
                // A directory that is its own ancestor (a link back up the tree)
                // would be walked forever.
                bool loop = false;
                for (path_record* up = directory; up != nullptr && !loop; up = up->parent) {
                    loop = up->device == info.device && up->inode == info.inode;
                }
                if (loop) {
                    print_error(L"Skipping directory loop: %s\n", {buffer});
                    continue;
                }
                path_record* record = take_record(state, buffer, length, info);
                if (record == nullptr) {
                    return out_of_memory();
                }
                record->parent = directory;
                state.directories.append(record);
            } else if (info.is_regular) {
                if (!info.owner_read) {
                    print_error(L"Access denied to %s\n", {buffer});
                    continue;
                }
                path_record* record = take_record(state, buffer, length, info);
                if (record == nullptr) {
                    return out_of_memory();
                }
                state.files.append(record);
            }
        }
    }
    return 0;
}

}  // namespace

namespace {

struct type_name {
    const wchar_t* text;
    int type;
};

int find_type(const wchar_t* text, std::initializer_list<type_name> names) {
    for (const type_name& name : names) {
        if (equals_ignoring_ascii_case(text, name.text)) {
            return name.type;
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
    return find_type(dot, {{L".sfv", 0},
                           {L".md5", 1},
                           {L".md5sum", 1},
                           {L".sha1", 2},
                           {L".sha1sum", 2},
                           {L".sha256", 3},
                           {L".sha256sum", 3},
                           {L".sha512", 4},
                           {L".sha512sum", 4}});
}

int type_from_name(const wchar_t* name) {
    int type = type_from_extension(name);
    if (type != -1) {
        return type;
    }
    const wchar_t* bare = name + platform::directory_part_length(name);
    return find_type(bare,
                     {{L"MD5SUMS", 1}, {L"SHA1SUMS", 2}, {L"SHA256SUMS", 3}, {L"SHA512SUMS", 4}});
}

int type_from_word(const wchar_t* word) {
    return find_type(word,
                     {{L"sfv", 0}, {L"md5", 1}, {L"sha1", 2}, {L"sha256", 3}, {L"sha512", 4}});
}

int expand_argument(const wchar_t* argument, run_settings& settings, expansion_state& state) {
    std::wstring pattern(argument);
    // "sub/" names the directory sub, as it does for every other tool.
    platform::strip_trailing_separators(pattern);
    const std::size_t directory_length = platform::directory_part_length(pattern);
    const std::wstring directory_part = pattern.substr(0, directory_length);
    const bool has_wildcards = pattern.find_first_of(L"*?", directory_length) != std::wstring::npos;

    std::vector<std::wstring> names;
    platform::find_matches(pattern.c_str(), names);  // a failed search matches nothing

    for (const std::wstring& name : names) {
        const bool dot_name = is_dot_name(name);
        // "." and ".." from a listing are never wanted; typed literally they name
        // a directory like any other.
        if (dot_name && has_wildcards) {
            continue;
        }
        const std::wstring path = directory_part + name;
        if (!dot_name && !settings.has_checksum_file) {
            settings.has_checksum_file = true;
            settings.checksum_file = path;
            if (!settings.has_target && !settings.type_forced) {
                int type = type_from_name(path.c_str());
                if (type != -1) {
                    settings.type = static_cast<checksum_type>(type);
                }
            }
        }
        if (settings.has_target && path == settings.creation_target) {
            continue;
        }
        platform::file_info info;
        if (platform::get_file_info(path.c_str(), info) != 0) {
            print_error(L"Could not stat file: %s\n", {path.c_str()});
            continue;
        }
        if (!info.is_directory && !info.is_regular) {
            continue;
        }
        if (info.is_directory && !settings.recursive) {
            continue;
        }
        if (path.size() >= path_buffer_units) {
            print_error(L"Path is too long\n");
            return korvane_status::path_error;
        }
        if (info.is_regular && !info.owner_read) {
            print_error(L"Access denied to %s\n", {path.c_str()});
            continue;
        }
        path_record* record = take_record(state, path.c_str(), path.size(), info);
        if (record == nullptr) {
            return out_of_memory();
        }
        if (info.is_regular) {
            state.files.append(record);
            continue;
        }
        state.directories.append(record);
        if (int status = walk(record, settings, state); status != 0) {
            return status;
        }
    }
    return 0;
}

}  // namespace korvane::app
