// Helpers for the checksum-file tests.
#ifndef KORVANE_TESTS_FORMATS_FORMATS_TEST_H
#define KORVANE_TESTS_FORMATS_FORMATS_TEST_H

#include <korvane/container.h>
#include <korvane/sfv.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/settings.h"
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

inline constexpr const char* test_signature = "4711";

// Settings a test sets directly. A signature made by a list is kept unless
// one is kept already, as the store keeps it, or refused with `keeps` false.
struct test_settings : detail::settings_source {
    detail::list_settings value = with_signature();
    bool trusted = true;
    bool keeps = true;
    std::vector<std::string> remembered;  // every signature a list asked to keep

    static detail::list_settings with_signature() {
        detail::list_settings settings;
        settings.signature = test_signature;
        return settings;
    }
    detail::list_settings current() override { return value; }
    bool signature_trusted() override { return trusted; }
    bool remember_signature(const std::string& made) override {
        remembered.push_back(made);
        if (keeps && !value.signature) {
            value.signature = made;
        }
        return keeps;
    }
};

// An SFV list that takes its settings from the test instead of the store.
class configured_sfv : public sfv {
  public:
    explicit configured_sfv(detail::settings_source& source) : source_(source) {}
    int open(const wchar_t* path) override { return sfv::open(path, source_); }
    int create(const wchar_t* path) override { return sfv::create(path, source_); }
    int close() override { return sfv::close(source_); }

  private:
    detail::settings_source& source_;
};

}  // namespace korvane::testing

#endif
