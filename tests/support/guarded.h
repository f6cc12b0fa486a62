// Memory with an unreadable page on each side, so that a hash path that reads
// one byte before the start or after the end of its input faults at once,
// instead of reading a neighbour's bytes and passing by luck.
#ifndef KORVANE_TESTS_SUPPORT_GUARDED_H
#define KORVANE_TESTS_SUPPORT_GUARDED_H

#include <cstddef>
#include <string_view>

namespace korvane::testing {

class guarded_region {
  public:
    // Room for `capacity` bytes between two guard pages. Without page
    // protection on this system, available() is false and nothing else may
    // be used.
    explicit guarded_region(std::size_t capacity);
    ~guarded_region();
    guarded_region(const guarded_region&) = delete;
    guarded_region& operator=(const guarded_region&) = delete;

    bool available() const { return begin != nullptr; }

    // `bytes` copied so that the last one is followed by the guard page.
    const unsigned char* at_end(std::string_view bytes);
    // `bytes` copied so that the first one follows the guard page.
    const unsigned char* at_start(std::string_view bytes);

  private:
    void* mapping = nullptr;
    std::size_t mapping_size = 0;
    unsigned char* begin = nullptr;  // first usable byte
    std::size_t usable = 0;          // whole pages between the guards
};

}  // namespace korvane::testing

// Skips the rest of a test where the region could not be set up.
#define KORVANE_REQUIRE_GUARD_PAGES(region) \
    if (!(region).available())              \
    GTEST_SKIP() << "no page protection here"

#endif
