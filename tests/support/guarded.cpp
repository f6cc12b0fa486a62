#include "support/guarded.h"

#include <cstring>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace korvane::testing {
namespace {

std::size_t page_size() {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
#else
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : 4096;
#endif
}

// Reserves `size` bytes no one may touch; null when that fails.
void* map_inaccessible(std::size_t size) {
#if defined(_WIN32)
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
#else
    void* p = ::mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
#endif
}

bool make_writable(void* p, std::size_t size) {
#if defined(_WIN32)
    DWORD old = 0;
    return VirtualProtect(p, size, PAGE_READWRITE, &old) != 0;
#else
    return ::mprotect(p, size, PROT_READ | PROT_WRITE) == 0;
#endif
}

void unmap(void* p, std::size_t size) {
#if defined(_WIN32)
    (void)size;
    VirtualFree(p, 0, MEM_RELEASE);
#else
    ::munmap(p, size);
#endif
}

}  // namespace

guarded_region::guarded_region(std::size_t capacity) {
    const std::size_t page = page_size();
    const std::size_t pages = capacity / page + 1;
    mapping_size = (pages + 2) * page;
    mapping = map_inaccessible(mapping_size);
    if (mapping == nullptr) {
        return;
    }
    unsigned char* first = static_cast<unsigned char*>(mapping) + page;
    if (!make_writable(first, pages * page)) {
        unmap(mapping, mapping_size);
        mapping = nullptr;
        return;
    }
    begin = first;
    usable = pages * page;
}

guarded_region::~guarded_region() {
    if (mapping != nullptr) {
        unmap(mapping, mapping_size);
    }
}

const unsigned char* guarded_region::at_end(std::string_view bytes) {
    if (bytes.size() > usable) {
        throw std::length_error("guarded_region: more bytes than room");
    }
    unsigned char* p = begin + (usable - bytes.size());
    if (!bytes.empty()) {
        std::memcpy(p, bytes.data(), bytes.size());
    }
    return p;
}

const unsigned char* guarded_region::at_start(std::string_view bytes) {
    if (bytes.size() > usable) {
        throw std::length_error("guarded_region: more bytes than room");
    }
    if (!bytes.empty()) {
        std::memcpy(begin, bytes.data(), bytes.size());
    }
    return begin;
}

}  // namespace korvane::testing
