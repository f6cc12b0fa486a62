#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/vfs.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <new>

#include "platform/fault.h"
#include "platform/posix/native.h"
#include "platform/text.h"

namespace korvane::platform {

namespace posix {
int to_native(const wchar_t* path, std::string& out) {
    try {
        return narrow(path, out) ? 0 : EINVAL;
    } catch (const std::bad_alloc&) {
        out.clear();
        return ENOMEM;
    }
}
}  // namespace posix

int canonical_path(const wchar_t* path, std::wstring& out) {
    std::string native;
    if (int error = posix::to_native(path, native)) {
        errno = error;
        return error;
    }
    char* resolved = ::realpath(native.c_str(), nullptr);
    if (resolved == nullptr) {
        return errno;
    }
    int error = 0;
    try {
        out = widen(resolved);
    } catch (const std::bad_alloc&) {
        error = errno = ENOMEM;
    }
    std::free(resolved);
    return error;
}

int get_file_info(const wchar_t* path, file_info& out) {
    std::string native;
    if (int error = posix::to_native(path, native)) {
        errno = error;
        return error;
    }
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) {
        return errno;
    }
    posix::info_from_stat(st, out);
    return 0;
}

void posix::info_from_stat(const struct stat& st, file_info& out) {
    out.is_directory = S_ISDIR(st.st_mode);
    out.is_regular = S_ISREG(st.st_mode);
    out.owner_read = (st.st_mode & S_IRUSR) != 0;
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.write_time = posix::ticks_from_timespec(st.st_mtim);
    out.change_time = std::max(out.write_time, posix::ticks_from_timespec(st.st_ctim));
    out.device = static_cast<std::uint64_t>(st.st_dev);
    out.inode = static_cast<std::uint64_t>(st.st_ino);
}

int get_file_system(const wchar_t* path, file_system_info& out) {
    out = file_system_info{};
    if (injected_untrusted_file_systems()) {
        out.name = L"untrusted-for-test";
        return 0;
    }
    std::string native;
    if (int error = posix::to_native(path, native)) {
        errno = error;
        return error;
    }
#if defined(__linux__)
    struct statfs st;
    if (::statfs(native.c_str(), &st) != 0) {
        return errno;
    }
    try {
        // The types are 32-bit numbers; a signed field may have widened them.
        out = linux_file_system(static_cast<std::uint64_t>(st.f_type) & 0xFFFFFFFFU);
    } catch (const std::bad_alloc&) {
        out = file_system_info{};
        return errno = ENOMEM;
    }
    return 0;
#else
    // Elsewhere the type is not told apart: nothing is trusted.
    out.name = L"unknown";
    return 0;
#endif
}

namespace {

[[nodiscard]] int read_directory(const std::string& native_dir, const wchar_t* pattern,
                                 std::vector<std::wstring>& names) {
    DIR* dir = ::opendir(native_dir.c_str());
    if (dir == nullptr) {
        return errno;
    }
    std::vector<std::string> found;
    int error = 0;
    try {
        for (;;) {
            errno = 0;
            dirent* entry = ::readdir(dir);
            if (entry == nullptr) {
                error = errno;
                break;
            }
            if (pattern != nullptr && !wildcard_match(pattern, widen(entry->d_name).c_str())) {
                continue;
            }
            found.emplace_back(entry->d_name);
        }
    } catch (const std::bad_alloc&) {
        error = ENOMEM;
    }
    ::closedir(dir);
    if (error != 0) {
        return error;
    }
    std::sort(found.begin(), found.end());  // byte order: deterministic output
    // All or nothing: a listing cut short would pass for the whole directory.
    const std::size_t before = names.size();
    try {
        names.reserve(before + found.size());
        for (const auto& name : found) {
            names.push_back(widen(name));
        }
    } catch (const std::bad_alloc&) {
        names.resize(before);
        return ENOMEM;
    }
    return 0;
}

}  // namespace

int find_matches(const wchar_t* pattern, std::vector<std::wstring>& names) try {
    std::wstring text(pattern);
    std::size_t slash = text.find_last_of(L'/');
    std::wstring last = slash == std::wstring::npos ? text : text.substr(slash + 1);
    if (last.find_first_of(L"*?") == std::wstring::npos) {
        // No wildcard: a direct lookup, which also finds names a listing of an
        // unreadable directory could not.
        std::string native;
        if (int error = posix::to_native(pattern, native)) {
            return error;
        }
        struct stat st;
        if (last.empty() || ::lstat(native.c_str(), &st) != 0) {
            return 0;
        }
        names.push_back(last);
        return 0;
    }
    std::wstring dir = slash == std::wstring::npos ? std::wstring(L".")
                       : slash == 0                ? std::wstring(L"/")
                                                   : text.substr(0, slash);
    std::string native;
    if (int error = posix::to_native(dir.c_str(), native)) {
        return error;
    }
    int error = read_directory(native, last.c_str(), names);
    // A directory that cannot be listed simply yields no matches.
    return error == ENOENT || error == ENOTDIR || error == EACCES ? 0 : error;
} catch (const std::bad_alloc&) {
    return ENOMEM;
}

int list_directory(const wchar_t* path, std::vector<std::wstring>& names) {
    std::string native;
    if (int error = posix::to_native(path, native)) {
        return error;
    }
    return read_directory(native, nullptr, names);
}

}  // namespace korvane::platform
