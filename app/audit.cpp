#include "audit.h"

#include <cstring>
#include <new>

#include "platform/fs.h"
#include "platform/text.h"
#include "report.h"
#include "shards.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

// Windows names compare without regard to case; ASCII is folded, as the
// rest of korvane folds it.
wchar_t comparable(wchar_t unit) {
#if defined(_WIN32)
    return platform::ascii_lower(unit);
#else
    return unit;
#endif
}

void append_unit(std::string& out, wchar_t wide) {
    const auto unit = static_cast<std::uint32_t>(comparable(wide));
    if (unit < 0x80) {
        out.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
        out += static_cast<char>(0xC0 | (unit >> 6));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else if (unit < 0x10000) {
        out += static_cast<char>(0xE0 | (unit >> 12));
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((unit >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (unit & 0x3F));
    }
}

bool is_absolute(std::wstring_view path) {
    if (!path.empty() && platform::is_path_separator(path[0])) {
        return true;
    }
#if defined(_WIN32)
    return path.size() >= 2 && path[1] == L':';
#else
    return false;
#endif
}

// Appends the components of `path` to `key` (which holds whole components,
// each after a '/'), resolving "." and ".." as the file system would without
// links. False when a ".." climbed above `root`, where it stayed.
bool append_components_slowly(std::wstring_view path, std::string& key, std::size_t root) {
    bool inside = true;
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = at;
        while (end < path.size() && !platform::is_path_separator(path[end])) {
            ++end;
        }
        const std::wstring_view part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == L".") {
            continue;
        }
        if (part == L"..") {
            const std::size_t slash = key.rfind('/');
            inside = inside && key.size() > root;
            key.resize(slash == std::string::npos || slash < root ? root : slash);
            continue;
        }
        key += '/';
        for (wchar_t unit : part) {
            append_unit(key, unit);
        }
    }
    return inside;
}

// As append_components_slowly, in one pass over a path that has nothing to
// resolve (no "." or ".." component, no empty one) and only ASCII, as the
// walk's paths and most names of a list are; false (and `key` as it was)
// for any other.
bool append_plain_components(std::wstring_view path, std::string& key) {
    const std::size_t start = key.size();
    key.resize(start + 1 + path.size());
    char* out = key.data() + start;
    *out++ = '/';
    char previous = '/';
    for (wchar_t wide : path) {
        const auto unit = static_cast<std::uint32_t>(comparable(wide));
        const char byte = platform::is_path_separator(wide) ? '/' : static_cast<char>(unit);
        // A component that starts with '.' may be "." or "..": the slow way.
        if (unit >= 0x80 || (previous == '/' && (byte == '/' || byte == '.'))) {
            key.resize(start);
            return false;
        }
        *out++ = byte;
        previous = byte;
    }
    if (previous == '/') {  // a separator at the end, or an empty path
        key.resize(path.empty() ? start : start + path.size());
    }
    return true;
}

bool append_components(std::wstring_view path, std::string& key, std::size_t root) {
    // "./sub/name", as a walk of "." writes names, is the commonest prefix.
    while (path.size() >= 2 && path[0] == L'.' && platform::is_path_separator(path[1])) {
        path.remove_prefix(2);
    }
    return append_plain_components(path, key) || append_components_slowly(path, key, root);
}

// Eight bytes at a time: the keys are hashed once each, the walk's on the
// way of every file found.
std::uint64_t hash_of(std::string_view key) {
    std::uint64_t hash = 0x9E3779B97F4A7C15ULL ^ key.size();
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, key.data() + i, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDULL;
        hash ^= hash >> 32;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, key.data() + i, key.size() - i);
    hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ULL;
    return hash ^ (hash >> 29);
}

// A slot holds the key's offset in the arena (plus one: 0 is empty) in its
// low bits and the top bits of its hash above them, so that most keys that
// differ are told apart without a look at the arena.
constexpr int offset_bits = 40;
constexpr std::uint64_t offset_mask = (std::uint64_t{1} << offset_bits) - 1;

std::uint64_t tag_of(std::uint64_t hash) {
    return hash & ~offset_mask;
}

// The key of an absolute `whole` key as name_key gives it: below the current
// folder, the part after it; elsewhere the whole, after a byte no path holds.
void relative_to_current(std::string& whole, std::string_view current_key) {
    if (whole.size() >= current_key.size() &&
        whole.compare(0, current_key.size(), current_key) == 0 &&
        (whole.size() == current_key.size() || whole[current_key.size()] == '/')) {
        whole.erase(0, current_key.size());
    } else {
        whole.insert(whole.begin(), '\x01');
    }
}

// The key of an absolute path, before relative_to_current.
void absolute_key(std::wstring_view path, std::string& key) {
    key.clear();
#if defined(_WIN32)
    // A drive ("C:") stays the key's first component, never taken away by "..".
    if (path.size() >= 2 && path[1] == L':') {
        append_unit(key, path[0]);
        key += ':';
        path.remove_prefix(2);
    }
#endif
    append_components(path, key, key.size());
}

}  // namespace

void name_key(std::wstring_view path, std::string_view current_key, std::string& key) {
    key.clear();
    if (!is_absolute(path)) {
        if (append_components(path, key, 0)) {
            return;  // below the current folder, as most names are
        }
        key = current_key;
        const std::size_t drive = key.find('/');
        append_components(path, key, drive == std::string::npos ? key.size() : drive);
        relative_to_current(key, current_key);
        return;
    }
    absolute_key(path, key);
    relative_to_current(key, current_key);
}

std::string_view listed_names::key_at(std::uint64_t offset) const {
    std::uint32_t length = 0;
    std::memcpy(&length, arena.data() + offset, sizeof length);
    return {arena.data() + offset + sizeof length, length};
}

std::size_t listed_names::find_slot(std::string_view key, std::uint64_t hash) const {
    const std::size_t mask = slots.size() - 1;
    const std::uint64_t tag = tag_of(hash);
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const std::uint64_t slot = slots[i];
        if (slot == 0 || (tag_of(slot) == tag && key_at((slot & offset_mask) - 1) == key)) {
            return i;
        }
    }
}

bool listed_names::grow() try {
    std::vector<std::uint64_t> old = std::move(slots);
    slots.assign(old.empty() ? 1024 : old.size() * 2, 0);
    const std::size_t mask = slots.size() - 1;
    for (std::uint64_t entry : old) {
        if (entry == 0) {
            continue;
        }
        // Every key is there once: the first empty slot from its place.
        std::size_t i = hash_of(key_at((entry & offset_mask) - 1)) & mask;
        while (slots[i] != 0) {
            i = (i + 1) & mask;
        }
        slots[i] = entry;
    }
    return true;
} catch (const std::bad_alloc&) {
    return false;
}

bool listed_names::add(std::string_view key) try {
    if ((count + 1) * 2 > slots.size() && !grow()) {
        return false;
    }
    const std::uint64_t hash = hash_of(key);
    const std::size_t slot = find_slot(key, hash);
    if (slots[slot] != 0) {
        return true;  // named twice: one name
    }
    const std::uint64_t offset = arena.size();
    if (offset + 1 > offset_mask) {
        return false;
    }
    const auto length = static_cast<std::uint32_t>(key.size());
    arena.append(reinterpret_cast<const char*>(&length), sizeof length);
    arena.append(key);
    slots[slot] = tag_of(hash) | (offset + 1);
    ++count;
    return true;
} catch (const std::bad_alloc&) {
    return false;
}

bool listed_names::contains(std::string_view key) const {
    return !slots.empty() && slots[find_slot(key, hash_of(key))] != 0;
}

own_files::own_files(const audit_scope& scope) {
    name_key(scope.folder, scope.current_key, folder_marker_key);
    folder_marker_key += "/_Verified_";
    name_key(scope.list_path, scope.current_key, list_key);
    const std::size_t base = platform::directory_part_length(scope.list_path);
    list_base = scope.list_path.substr(base);
    name_key(scope.list_path.substr(0, base), scope.current_key, list_folder_key);
    name_key(L"_Verified_", scope.current_key, marker_key);
}

// "LIST.<16 hexadecimal digits>.tmp" beside the list: a rewrite of it that a
// kill left behind.
bool own_files::is_list_temporary(std::wstring_view name, std::string_view key) const {
    constexpr std::size_t suffix = 1 + 16 + 4;
    if (name.size() != list_base.size() + suffix || name.substr(0, list_base.size()) != list_base ||
        name.substr(name.size() - 4) != L".tmp" || name[list_base.size()] != L'.') {
        return false;
    }
    for (std::size_t i = list_base.size() + 1; i < name.size() - 4; ++i) {
        const wchar_t c = name[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) {
            return false;
        }
    }
    const std::size_t slash = key.rfind('/');
    return key.substr(0, slash) == list_folder_key;
}

bool own_files::holds(std::string_view key, std::wstring_view path) const {
    return key == list_key || key == marker_key || key == folder_marker_key ||
           is_list_temporary(path.substr(platform::directory_part_length(path)), key);
}

bool audit_scope_of(const run_settings& settings, audit_scope& scope, int& error) {
    scope.folder = settings.has_parent ? settings.parent : std::wstring(L".");
    platform::strip_trailing_separators(scope.folder);
    scope.list_path = settings.checksum_file;
    std::wstring current;
    error = platform::canonical_path(L".", current);
    if (error == 0) {
        absolute_key(current, scope.current_key);
    }
    return error == 0;
}

namespace {

// What the walk of an audit finds: each file's key against the list's, the
// files korvane itself keeps beside a list left out.
struct audit_walk {
    const listed_names& names;
    own_files own;
    std::size_t prefix;  // units of the folder and its separator in a found path
    std::string folder_key;
    std::string key;
    int unlisted = 0;

    const unlisted_handler& handle;

    audit_walk(const audit_scope& scope, const listed_names& names_,
               const unlisted_handler& handle_)
        : names(names_), own(scope), handle(handle_) {
        const std::wstring& folder = scope.folder;
        prefix = folder.size() + (platform::is_path_separator(folder.back()) ? 0 : 1);
        name_key(folder, scope.current_key, folder_key);
    }

    walk_shard* shard = nullptr;

    status found(const wchar_t* path) {
        if (shard != nullptr) {
            const std::uint64_t place = shard->found++;
            if (shard_of_path(path, shard->count) != shard->index) {
                return status::ok;  // another shard's: its name is not even looked up
            }
            shard->place = place;
        }
        const std::wstring_view relative = std::wstring_view(path).substr(prefix);
        key = folder_key;
        append_components(relative, key, 0);
        if (names.contains(key) || own.holds(key, relative)) {
            return status::ok;
        }
        ++unlisted;
        return handle(path, relative);
    }
};

}  // namespace

status walk_unlisted(const audit_scope& scope, const listed_names& names,
                     const run_settings& settings, expansion_state& state, reporter& report,
                     const unlisted_handler& handle, int& unlisted, walk_shard* shard) {
    audit_walk audit(scope, names, handle);
    audit.shard = shard;
    // Only names count: no file found is looked at, let alone opened.
    state.examine_later = true;
    state.settle_found = nullptr;
    state.file_added = [&audit, &state](path_record* file) {
        const status result = audit.found(file->text);
        state.pool.release(file);
        return result;
    };
    const status result = walk_folder(scope.folder, settings, state, report);
    state.file_added = nullptr;
    unlisted = audit.unlisted;
    return result;
}

status audit_folder(const audit_scope& scope, const listed_names& names,
                    const run_settings& settings, expansion_state& state, reporter& report,
                    int& unlisted) {
    const unlisted_handler tell = [&report](const wchar_t*, std::wstring_view relative) {
        report.file_not_listed(std::wstring(relative).c_str());
        return status::ok;
    };
    return walk_unlisted(scope, names, settings, state, report, tell, unlisted);
}

}  // namespace korvane::app
