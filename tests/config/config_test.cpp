#include <korvane/config.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "config/config_internal.h"
#include "platform/file.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using korvane::testing::read_file;
using korvane::testing::set_environment;
using korvane::testing::write_file;

namespace {

std::optional<std::string> get_env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

constexpr const char* kLocationVariables[] = {"LOCALAPPDATA", "APPDATA", "XDG_CONFIG_HOME", "HOME"};

// Points the store at a fresh temporary directory and reloads it on demand.
class ConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : kLocationVariables) {
            saved.emplace_back(name, get_env(name));
            set_environment(name, std::nullopt);
        }
        set_environment("LOCALAPPDATA", dir.path().string());
        config_access::reset();
    }
    void TearDown() override {
        config_access::reset();
        for (const auto& [name, value] : saved) {
            set_environment(name.c_str(), value);
        }
    }

    fs::path conf_path() const { return dir / "Korvane" / "korvane.conf"; }

    // Writes the configuration file and loads a fresh store from it.
    config& load(const std::string& text) {
        dir.write("Korvane/korvane.conf", text);
        return reload();
    }
    config& reload() {
        config_access::reset();
        return *config::instance();
    }
    static std::string text(const config_value& v) {
        const char* s = v;
        return s ? s : "<null>";
    }

    korvane::testing::temp_dir dir;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
};

TEST_F(ConfigTest, MissingFileAndMissingKeys) {
    config& store = *config::instance();
    EXPECT_EQ(&store, config::instance());
    const config_value& missing = store["addtag"];
    EXPECT_FALSE(store.has_key("addtag"));
    EXPECT_FALSE(static_cast<bool>(missing));
    EXPECT_EQ(static_cast<unsigned long long>(missing), 0u);
    EXPECT_EQ(static_cast<const char*>(missing), nullptr);
    EXPECT_EQ(&missing, &store["anything else"]);
    EXPECT_FALSE(store.has_key(nullptr));
}

TEST_F(ConfigTest, CommentsQuotesAndBlanks) {
    config& store = load(
        "; a comment line\n"
        "\n"
        "   Key  =  some text  ; note\n"
        "quoted = 'a ; b'\n"
        "cut = a ; b\n"
        "escaped = it\\'s ; c\n"
        "unclosed=\"a;b\n"
        "lone='\n"
        "double=\"x\"\n"
        "unpaired='x\"\n"
        "crlf=value \r\n"
        "empty=\n"
        "no equals sign here\n"
        "\tutf8 = \xc2\xa0"
        "caf\xc3\xa9\xc2\xa0\n"
        "k\xc3\xa9y=1\n");
    EXPECT_EQ(text(store["key"]), "some text");
    EXPECT_EQ(text(store["KEY"]), "some text");
    EXPECT_EQ(text(store["quoted"]), "a ; b");
    EXPECT_EQ(text(store["cut"]), "a");
    EXPECT_EQ(text(store["escaped"]), "it\\'s");
    EXPECT_EQ(text(store["unclosed"]), "\"a;b");
    EXPECT_EQ(text(store["lone"]), "");
    EXPECT_EQ(text(store["double"]), "x");
    EXPECT_EQ(text(store["unpaired"]), "'x\"");
    EXPECT_EQ(text(store["crlf"]), "value");
    EXPECT_TRUE(store.has_key("empty"));
    EXPECT_EQ(text(store["empty"]), "");
    EXPECT_FALSE(static_cast<bool>(store["empty"]));
    EXPECT_FALSE(store.has_key("no equals sign here"));
    // Bytes 128..255 are text: a UTF-8 value keeps its no-break spaces.
    EXPECT_EQ(text(store["UTF8"]),
              "\xc2\xa0"
              "caf\xc3\xa9\xc2\xa0");
    EXPECT_TRUE(store.has_key("K\xc3\xa9Y"));
    EXPECT_FALSE(store.has_key("k\xc3\x89y"));  // only A-Z fold
}

TEST_F(ConfigTest, LaterDuplicateWinsOnLoad) {
    config& store = load("a=1\nb=x\nA=2\n");
    EXPECT_EQ(text(store["a"]), "2");
    EXPECT_EQ(static_cast<unsigned long long>(store["a"]), 2u);
}

TEST_F(ConfigTest, LongLineArrivesInPieces) {
    // The first 1023 bytes are one line, the rest another with its own setting.
    std::string line = "long=" + std::string(1018, 'a') + "tail=rest" + std::string(468, 'z');
    ASSERT_EQ(line.size(), 1500u);
    config& store = load(line + "\n");
    EXPECT_EQ(text(store["long"]), std::string(1018, 'a'));
    EXPECT_EQ(text(store["tail"]), "rest" + std::string(468, 'z'));

    // Without an equals sign the pieces survive a rewrite as two lines.
    std::string plain(1500, 'p');
    config& again = load(plain + "\n");
    ASSERT_TRUE(again.set("k", "v"));
    EXPECT_EQ(read_file(conf_path()),
              std::string(1023, 'p') + "\n" + std::string(477, 'p') + "\nk=v\n");
}

TEST_F(ConfigTest, Conversions) {
    config& store = load(
        "t1=true\nt2=TRUE\nt3=TrUe\nf1=yes\nf2=1\nf3=truer\n"
        "n1=120\nn2=120s\nn3=\" 120\"\nn4=18446744073709551615\nn5=18446744073709551616\n"
        "n6=99999999999999999999999\nn7=007\nn8=x1\n");
    EXPECT_TRUE(store["t1"]);
    EXPECT_TRUE(store["t2"]);
    EXPECT_TRUE(store["t3"]);
    EXPECT_FALSE(store["f1"]);
    EXPECT_FALSE(store["f2"]);
    EXPECT_FALSE(store["f3"]);
    auto number = [&](const char* key) { return static_cast<unsigned long long>(store[key]); };
    EXPECT_EQ(number("n1"), 120u);
    EXPECT_EQ(number("n2"), 120u);
    EXPECT_EQ(number("n3"), 0u);
    EXPECT_EQ(number("n4"), 18446744073709551615ull);
    EXPECT_EQ(number("n5"), 0u);
    EXPECT_EQ(number("n6"), 0u);
    EXPECT_EQ(number("n7"), 7u);
    EXPECT_EQ(number("n8"), 0u);
}

TEST_F(ConfigTest, SetCreatesDirectoryAndFile) {
    config& store = *config::instance();
    ASSERT_TRUE(store.set("Signature", "abc"));
    EXPECT_EQ(text(store["signature"]), "abc");
    EXPECT_EQ(read_file(conf_path()), "Signature=abc\n");
    EXPECT_FALSE(fs::exists(conf_path().string() + ".new"));
#ifndef _WIN32
    EXPECT_EQ(fs::status(dir / "Korvane").permissions() & fs::perms::all, fs::perms::owner_all);
#endif
    EXPECT_EQ(text(reload()["SIGNATURE"]), "abc");
}

TEST_F(ConfigTest, SetRewritesInPlaceAndDropsComments) {
    config& store = load(
        "; header comment\n"
        "\n"
        "  first = 1 ; note\n"
        "plain line\n"
        "Updatedb = false\n"
        "other=2\n"
        "UPDATEDB=maybe\n");
    dir.write("Korvane/korvane.conf.new", "stale");
    ASSERT_TRUE(store.set("updatedb", "true"));
    EXPECT_EQ(read_file(conf_path()), "first = 1\nplain line\nupdatedb=true\nother=2\n");
    EXPECT_EQ(read_file(conf_path().string() + ".new"), "stale") << "a name never used";
    EXPECT_TRUE(store["UpdateDB"]);

    ASSERT_TRUE(store.set("expiretime", "7d"));
    EXPECT_EQ(read_file(conf_path()),
              "first = 1\nplain line\nupdatedb=true\nother=2\nexpiretime=7d\n");
    EXPECT_EQ(text(reload()["EXPIRETIME"]), "7d");
}

TEST_F(ConfigTest, SetFollowsChangesMadeByOthers) {
    config& store = load("a=1\n");
    // Another process rewrites the file after this one loaded it.
    write_file(conf_path(), "b=2\n");
    ASSERT_TRUE(store.set("b", "3"));  // memory lacked b: appended
    EXPECT_EQ(text(store["b"]), "3");
    ASSERT_TRUE(store.set("a", "4"));  // the file lacked a: memory follows the set
    EXPECT_EQ(text(store["a"]), "4");
    EXPECT_EQ(read_file(conf_path()), "b=3\na=4\n");
}

TEST_F(ConfigTest, SetRefusesTextThatCannotComeBackAsOneSetting) {
    config& store = load("a=1\n");
    EXPECT_FALSE(store.set("a", "1\nforged=yes"));
    EXPECT_FALSE(store.set("a\r", "1"));
    EXPECT_FALSE(store.set("a=b", "1"));
    EXPECT_FALSE(store.set("a", std::string(1022, 'x').c_str()));
    EXPECT_FALSE(store.set(nullptr, "1"));
    EXPECT_FALSE(store.set("a", nullptr));
    EXPECT_EQ(read_file(conf_path()), "a=1\n");
    EXPECT_EQ(text(store["a"]), "1");
    EXPECT_TRUE(store.set("a", std::string(1021, 'x').c_str()));  // exactly one piece
    EXPECT_EQ(text(reload()["a"]), std::string(1021, 'x'));
}

TEST_F(ConfigTest, UnreadableFileIsNeverRewrittenFromNothing) {
    // A directory in place of the file opens but cannot be read.
    fs::create_directories(conf_path());
    config& store = reload();
    EXPECT_FALSE(store.has_key("a"));
    EXPECT_FALSE(store.set("a", "1"));
    EXPECT_TRUE(fs::is_directory(conf_path()));
    EXPECT_FALSE(fs::exists(conf_path().string() + ".new"));
    EXPECT_FALSE(store.has_key("a"));
}

TEST_F(ConfigTest, UnreadablePermissionsKeepTheFile) {
    config& store = load("a=1\nb=2\n");
    fs::permissions(conf_path(), fs::perms::none);
    if (std::FILE* probe = std::fopen(conf_path().string().c_str(), "rb")) {
        std::fclose(probe);
        GTEST_SKIP() << "permissions do not restrict this user";
    }
    EXPECT_FALSE(store.set("a", "3"));
    fs::permissions(conf_path(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(read_file(conf_path()), "a=1\nb=2\n");
    EXPECT_EQ(text(store["a"]), "1");
}

TEST_F(ConfigTest, FailedNewFileLeavesConfigurationAsItWas) {
    config& store = load("a=1\n");
    // A failed write or sync leaves the old file and no temporary one.
    for (long stop : {1L, 2L, 3L}) {
        korvane::platform::inject_write_faults(stop);
        EXPECT_FALSE(store.set("a", "2")) << stop;
        korvane::platform::inject_write_faults(0);
        EXPECT_EQ(read_file(conf_path()), "a=1\n");
        EXPECT_EQ(text(store["a"]), "1");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Korvane"), fs::directory_iterator()),
                  2)
            << "only the file and its lock";
    }

#ifndef _WIN32
    // A planted ".new" link can no longer redirect the write.
    auto victim = dir.write("victim", "keep");
    fs::create_symlink(victim, conf_path().string() + ".new");
    EXPECT_TRUE(store.set("a", "2"));
    EXPECT_EQ(read_file(conf_path()), "a=2\n");
    EXPECT_EQ(read_file(victim), "keep");
#endif
}

TEST_F(ConfigTest, LocationFromTheEnvironment) {
    using korvane::config_detail::find_location;
    set_environment("LOCALAPPDATA", std::nullopt);
    EXPECT_FALSE(find_location());
    EXPECT_FALSE(reload().set("a", "1"));  // nowhere to keep it

    set_environment("HOME", "/home/u/");
    EXPECT_EQ(find_location()->file, "/home/u/.config/Korvane/korvane.conf");
    set_environment("XDG_CONFIG_HOME", "relative/ignored");
    EXPECT_EQ(find_location()->file, "/home/u/.config/Korvane/korvane.conf");
    set_environment("XDG_CONFIG_HOME", "/xdg");
    EXPECT_EQ(find_location()->file, "/xdg/Korvane/korvane.conf");
    set_environment("APPDATA", "/roaming\\");  // a backslash is no separator
    EXPECT_EQ(find_location()->file, "/roaming\\/Korvane/korvane.conf");
    set_environment("LOCALAPPDATA", "");  // empty counts as unset
    EXPECT_EQ(find_location()->directory, "/roaming\\/Korvane/");
    set_environment("LOCALAPPDATA", "/local/");
    EXPECT_EQ(find_location()->file, "/local/Korvane/korvane.conf");

    std::string longest(989, 'd');
    longest[0] = '/';
    set_environment("LOCALAPPDATA", longest);
    EXPECT_TRUE(find_location());
    set_environment("LOCALAPPDATA", longest + "d");
    EXPECT_FALSE(find_location());
    EXPECT_FALSE(reload().set("a", "1"));
}

TEST_F(ConfigTest, SetNeedsAnExistingParentExceptForTheHomeFallback) {
    set_environment("LOCALAPPDATA", (dir / "missing").string());
    EXPECT_FALSE(reload().set("a", "1"));
    EXPECT_FALSE(fs::exists(dir / "missing"));

    set_environment("LOCALAPPDATA", std::nullopt);
    set_environment("HOME", dir.path().string());
    ASSERT_TRUE(reload().set("a", "1"));
    EXPECT_EQ(read_file(dir / ".config" / "Korvane" / "korvane.conf"), "a=1\n");
}

}  // namespace

namespace {

// Found by fuzzing: `set` used to report success for settings that the next load reads as
// something else (blanks stripped, a comment cut off, quotes removed).
TEST_F(ConfigTest, SetRefusesWhatWouldReadBackDifferently) {
    config& store = load("k=1\n");
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
    config& again = reload();
    for (const auto& [key, value] : kept) {
        EXPECT_EQ(text(again[key]), value) << '[' << key << ']';
    }
}

TEST_F(ConfigTest, OnlyASmallRegularFileIsRead) {
#ifndef _WIN32
    // A FIFO in place of the file would block every run.
    fs::create_directories(dir / "Korvane");
    std::string fifo = conf_path().string();
    ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
    config& piped = reload();
    EXPECT_FALSE(piped.has_key("signature"));
    EXPECT_FALSE(piped.set("a", "1")) << "not rewritten from nothing";
    fs::remove(conf_path());
#endif
    // Larger than 1 MiB: unreadable, and never rewritten from nothing.
    std::string big = "a=1\n";
    while (big.size() <= 1024 * 1024) {
        big += "; " + std::string(1000, 'x') + "\n";
    }
    config& large = load(big);
    EXPECT_FALSE(large.has_key("a"));
    EXPECT_FALSE(large.set("b", "2"));
    EXPECT_EQ(read_file(conf_path()).size(), big.size());
}

TEST_F(ConfigTest, ManyKeysLoadWithTheLastLineOfEachWinning) {
    std::string lines;
    for (int i = 0; i < 100000; ++i) {
        lines += "k" + std::to_string(i) + "=" + std::to_string(i % 10) + "\n";
    }
    lines += "K7=last\n";
    ASSERT_LE(lines.size(), 1024U * 1024U);
    config& store = load(lines);
    EXPECT_EQ(text(store["k99999"]), "9");
    EXPECT_EQ(text(store["k7"]), "last");
}

TEST_F(ConfigTest, AFolderOthersMayChangeIsNeverWritten) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX permission bits";
#else
    config& store = load("a=1\n");
    fs::permissions(dir / "Korvane", fs::perms::group_write, fs::perm_options::add);
    EXPECT_FALSE(store.set("a", "2"));
    EXPECT_FALSE(config_access::folder_is_private());
    EXPECT_EQ(read_file(conf_path()), "a=1\n");
    fs::permissions(dir / "Korvane", fs::perms::group_write, fs::perm_options::remove);
    EXPECT_TRUE(store.set("a", "2"));
#endif
}

TEST_F(ConfigTest, TheFirstStoredValueWins) {
    config& store = load("other=1\n");
    // Another process stores its signature after this one loaded the file.
    write_file(conf_path(), "other=1\nsignature=111\n");
    ASSERT_TRUE(config_access::set_unless_present("Signature", "222"));
    EXPECT_EQ(text(store["signature"]), "111");
    EXPECT_EQ(read_file(conf_path()), "other=1\nsignature=111\n");
    fs::remove(conf_path());
    ASSERT_TRUE(config_access::set_unless_present("Signature", "333"));
    EXPECT_EQ(read_file(conf_path()), "Signature=333\n");
}

}  // namespace
