// A list being created must not hold its entries in memory: a run over ten
// million files has a few gigabytes at most. Every allocation of this test
// program goes through the counting operator new below, so the heap a
// creation holds is measured exactly rather than through the process's
// resident size, which the allocator and the other tests blur.
#include <gtest/gtest.h>

#include <korvane/md5.h>
#include <korvane/sfv.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "formats_test.h"

namespace {

constexpr std::size_t header = alignof(std::max_align_t);
std::atomic<std::int64_t> live_bytes{0};
std::atomic<std::int64_t> peak_bytes{0};

// Never inlined: a caller's view of the header arithmetic would make the
// compiler's bounds and pairing checks misfire.
[[gnu::noinline]] void* counted_allocation(std::size_t size) noexcept {
    void* block = std::malloc(size + header);
    if (block == nullptr) {
        return nullptr;
    }
    *static_cast<std::size_t*>(block) = size;
    const std::int64_t now = live_bytes += static_cast<std::int64_t>(size);
    std::int64_t peak = peak_bytes.load(std::memory_order_relaxed);
    while (now > peak && !peak_bytes.compare_exchange_weak(peak, now)) {
    }
    return static_cast<char*>(block) + header;
}

[[gnu::noinline]] void counted_release(void* memory) noexcept {
    if (memory == nullptr) {
        return;
    }
    char* block = static_cast<char*>(memory) - header;
    live_bytes -= static_cast<std::int64_t>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}

void* counted_or_throw(std::size_t size) {
    void* memory = counted_allocation(size);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
    return memory;
}

}  // namespace

// Every form without an alignment, so that no allocation bypasses the count
// (a sanitizer's runtime has its own forms otherwise).
void* operator new(std::size_t size) {
    return counted_or_throw(size);
}
void* operator new[](std::size_t size) {
    return counted_or_throw(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted_allocation(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted_allocation(size);
}
void operator delete(void* memory) noexcept {
    counted_release(memory);
}
void operator delete[](void* memory) noexcept {
    counted_release(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    counted_release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    counted_release(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
    counted_release(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    counted_release(memory);
}

namespace korvane::testing {
namespace {

// The highest heap use while `entries` are added, above what the list held
// after its first thousand.
template <typename List>
std::int64_t growth_while_adding(const std::wstring& target, int entries) {
    List list;
    EXPECT_EQ(list.create(target.c_str()), 0);
    unsigned char digest[16] = {7};
    std::wstring name;
    int i = 0;
    for (; i < 1000; ++i) {
        name = L"photos/2024/holiday/IMG_" + std::to_wstring(i) + L".jpg";
        EXPECT_EQ(list.addFile(name.c_str(), digest), 0);
    }
    const std::int64_t base = live_bytes.load();
    peak_bytes = base;
    for (; i < entries; ++i) {
        name = L"photos/2024/holiday/IMG_" + std::to_wstring(i) + L".jpg";
        if (list.addFile(name.c_str(), digest) != 0) {
            ADD_FAILURE() << "entry " << i;
            break;
        }
    }
    const std::int64_t growth = peak_bytes.load() - base;
    EXPECT_EQ(list.close(), 0);
    return growth;
}

TEST(CreationMemory, EntriesAreNotHeldInMemory) {
    temp_dir dir;
    // 200,000 entries held as records would take well over 10 MB.
    EXPECT_LT(growth_while_adding<md5>(wide(dir / "list.md5"), 200000), 64 * 1024);
    EXPECT_LT(growth_while_adding<sfv>(wide(dir / "list.sfv"), 200000), 64 * 1024);
}

}  // namespace
}  // namespace korvane::testing
