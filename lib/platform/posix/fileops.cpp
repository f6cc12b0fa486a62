#include "platform/fileops.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/file.h"
#include "platform/posix/native.h"

namespace korvane::platform {

int make_directory(const char* path) { return ::mkdir(path, 0700) == 0 ? 0 : errno; }
int remove_file(const char* path) { return ::unlink(path) == 0 ? 0 : errno; }
int rename_file(const char* from, const char* to) {
    if (injected_write_fault()) {
        errno = EIO;
        return EIO;
    }
    return std::rename(from, to) == 0 ? 0 : errno;
}

namespace {
template <typename F>
int with_native(const wchar_t* path, F f) {
    std::string native;
    if (!posix::to_native(path, native)) {
        errno = EINVAL;
        return EINVAL;
    }
    return f(native.c_str());
}
}  // namespace

int make_directory(const wchar_t* path) {
    return with_native(path, [](const char* p) { return make_directory(p); });
}
int remove_file(const wchar_t* path) {
    return with_native(path, [](const char* p) { return remove_file(p); });
}
int rename_file(const wchar_t* from, const wchar_t* to) {
    std::string native_to;
    if (!posix::to_native(to, native_to)) {
        errno = EINVAL;
        return EINVAL;
    }
    return with_native(from, [&](const char* p) { return rename_file(p, native_to.c_str()); });
}

int create_marker_file(const wchar_t* path) {
    return with_native(path, [](const char* p) {
        int fd = ::open(p, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            return errno;
        }
        ::close(fd);
        return 0;
    });
}

}  // namespace korvane::platform
