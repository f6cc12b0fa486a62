// Helpers for the checksum-file tests.
#ifndef KORVANE_TESTS_FORMATS_FORMATS_TEST_H
#define KORVANE_TESTS_FORMATS_FORMATS_TEST_H

#include <korvane/config.h>
#include <korvane/container.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace korvane::testing {

inline std::wstring wide(const std::filesystem::path& path) {
    return platform::widen(path.string());
}

struct read_entry {
    std::wstring name;
    std::uint32_t crc = 0;
    std::vector<unsigned char> digest;
    int length = 0;
};

// Reads entries until getNextFile returns 0 or less; `end` gets that result.
inline std::vector<read_entry> read_all(container& list, int digest_size, int& end,
                                        int name_room = 264) {
    std::vector<read_entry> entries;
    for (;;) {
        std::vector<wchar_t> name(static_cast<std::size_t>(name_room), L'#');
        unsigned char hash[64] = {};
        std::uint64_t size = 0;
        int result = list.getNextFile(name.data(), name_room, &size, hash);
        EXPECT_EQ(size, ~std::uint64_t{0});
        if (result <= 0) {
            end = result;
            return entries;
        }
        read_entry entry;
        entry.name = name.data();
        entry.length = result;
        std::memcpy(&entry.crc, hash, 4);
        entry.digest.assign(hash, hash + digest_size);
        entries.push_back(entry);
        EXPECT_EQ(list.setPreviouslyVerified(true), 0);
    }
}

// Sets a configuration value for one test and puts the given value back after.
class config_override {
  public:
    config_override(const char* key, const char* value, const char* restore)
        : key_(key), restore_(restore) {
        EXPECT_TRUE(config::instance()->set(key, value));
    }
    ~config_override() { EXPECT_TRUE(config::instance()->set(key_.c_str(), restore_.c_str())); }
    config_override(const config_override&) = delete;
    config_override& operator=(const config_override&) = delete;

  private:
    std::string key_;
    std::string restore_;
};

inline constexpr const char* test_signature = "4711";

}  // namespace korvane::testing

#endif
