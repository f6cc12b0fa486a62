#include "platform/cpu.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace korvane::platform {

int usable_cpu_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) {
            return count;
        }
    }
    long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

namespace {

// Reads the first byte of a sysfs attribute; 0 when it cannot be read.
char first_byte_of(const char* path) {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return 0;
    }
    char c = 0;
    if (::read(fd, &c, 1) != 1) {
        c = 0;
    }
    ::close(fd);
    return c;
}

bool device_is_rotational(dev_t device) {
    char path[96];
    const unsigned major_number = major(device);
    const unsigned minor_number = minor(device);
    // A whole disk has the attribute itself; a partition's entry is a link into
    // its disk's directory, whose attribute lies one level up.
    std::snprintf(path, sizeof path, "/sys/dev/block/%u:%u/queue/rotational", major_number,
                  minor_number);
    char c = first_byte_of(path);
    if (c == 0) {
        std::snprintf(path, sizeof path, "/sys/dev/block/%u:%u/../queue/rotational", major_number,
                      minor_number);
        c = first_byte_of(path);
    }
    return c == '1';
}

}  // namespace

bool on_rotational_disk(file_handle file) {
    struct stat st;
    if (::fstat(static_cast<int>(reinterpret_cast<std::intptr_t>(file)), &st) != 0) {
        return false;
    }
    // Asked once per large file: the answer per device is kept.
    static std::mutex guard;
    static std::vector<std::pair<dev_t, bool>> known;
    std::lock_guard<std::mutex> lock(guard);
    for (const auto& [device, rotational] : known) {
        if (device == st.st_dev) {
            return rotational;
        }
    }
    bool rotational = device_is_rotational(st.st_dev);
    if (known.size() < 64) {
        known.emplace_back(st.st_dev, rotational);
    }
    return rotational;
}

}  // namespace korvane::platform
