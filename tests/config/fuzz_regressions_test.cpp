// Inputs found by fuzzing the configuration store, kept as cases of their own.
#include <korvane/config.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/config_internal.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace {

using korvane::testing::read_file;
using korvane::testing::set_environment;

class ConfigFuzzRegressions : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"LOCALAPPDATA", "APPDATA", "XDG_CONFIG_HOME", "HOME"}) {
            const char* value = std::getenv(name);
            saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            set_environment(name, std::nullopt);
        }
        set_environment("LOCALAPPDATA", dir.path().string());
        dir.write("Korvane/korvane.conf", "k=1\n");
        config_access::reset();
    }
    void TearDown() override {
        config_access::reset();
        for (const auto& [name, value] : saved) {
            set_environment(name.c_str(), value);
        }
    }
    static std::string text(const config_value& v) {
        const char* s = v;
        return s ? s : "<null>";
    }

    korvane::testing::temp_dir dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

// `set` used to report success for settings that the next load reads as
// something else (blanks stripped, a comment cut off, quotes removed).
TEST_F(ConfigFuzzRegressions, SetRefusesWhatWouldReadBackDifferently) {
    config& store = *config::instance();
    const std::pair<const char*, const char*> refused[] = {
        {"k", "\""},  {"k", "'x'"}, {"k", "\"x\""}, {"k", " v"}, {"k", "v "},
        {"k", "v\t"}, {"k", "a;b"}, {"k", ";"},     {" k", "v"}, {"k ", "v"},
        {"k;", "v"},  {";k", "v"},  {"", " "},
    };
    for (const auto& [key, value] : refused) {
        EXPECT_FALSE(store.set(key, value)) << '[' << key << "]=[" << value << ']';
    }
    EXPECT_EQ(read_file(dir / "Korvane" / "korvane.conf"), "k=1\n");
    EXPECT_EQ(text(store["k"]), "1");

    // What does read back is still kept, quotes and semicolons included.
    const std::pair<const char*, const char*> kept[] = {
        {"k", "'a;b'c"}, {"q", "it\\'s"}, {"u", "\"open"},
        {"e", ""},       {"", "v"},       {"x", "caf\xc3\xa9"},
    };
    for (const auto& [key, value] : kept) {
        EXPECT_TRUE(store.set(key, value)) << '[' << key << "]=[" << value << ']';
    }
    config_access::reset();
    config& again = *config::instance();
    for (const auto& [key, value] : kept) {
        EXPECT_EQ(text(again[key]), value) << '[' << key << ']';
    }
}

}  // namespace
