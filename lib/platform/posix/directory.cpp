#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/env.h"
#include "platform/listing.h"
#include "platform/posix/native.h"
#include "platform/text.h"

namespace korvane::platform {

struct directory_reader::state {
    DIR* dir = nullptr;
    bool regular = false;
};

directory_reader::directory_reader() = default;

directory_reader::~directory_reader() {
    close();
    delete open_state;
}

int directory_reader::open(const wchar_t* path) {
    close();
    std::string native;
    if (int error = posix::to_native(path, native)) {
        return error;
    }
    if (open_state == nullptr) {
        open_state = new (std::nothrow) state;
        if (open_state == nullptr) {
            return ENOMEM;
        }
    }
    open_state->dir = ::opendir(native.c_str());
    return open_state->dir == nullptr ? errno : 0;
}

int directory_reader::next(std::string_view& name) {
    if (open_state == nullptr || open_state->dir == nullptr) {
        return 0;
    }
    errno = 0;
    const dirent* entry = ::readdir(open_state->dir);
    if (entry == nullptr) {
        return -errno;
    }
    name = entry->d_name;
    open_state->regular = entry->d_type == DT_REG;
    return 1;
}

bool directory_reader::regular() const {
    return open_state != nullptr && open_state->regular;
}

int directory_reader::entry_info(std::string_view name, const wchar_t* full_path,
                                 file_info& out) const {
    char terminated[1024];
    if (open_state == nullptr || open_state->dir == nullptr || name.size() >= sizeof terminated) {
        return get_file_info(full_path, out);
    }
    std::memcpy(terminated, name.data(), name.size());
    terminated[name.size()] = '\0';
    // Relative to the open directory, links followed: what stat of the whole
    // path gives, without resolving every component of it again.
    struct stat st;
    if (::fstatat(::dirfd(open_state->dir), terminated, &st, 0) != 0) {
        return errno;
    }
    posix::info_from_stat(st, out);
    return 0;
}

void directory_reader::close() {
    if (open_state != nullptr && open_state->dir != nullptr) {
        ::closedir(open_state->dir);
        open_state->dir = nullptr;
    }
}

int temporary_folder(std::wstring& out) try {
    std::optional<std::string> variable = get_environment("TMPDIR");
    out = variable && !variable->empty() ? widen(*variable) : std::wstring(L"/tmp");
    strip_trailing_separators(out);
    return 0;
} catch (const std::bad_alloc&) {
    return ENOMEM;
}

}  // namespace korvane::platform
