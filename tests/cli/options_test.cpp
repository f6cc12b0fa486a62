// The command line: options, usage errors and how the checksum type is chosen.
#include "cli_helpers.h"
#include "support/cli.h"

namespace korvane::testing {
namespace {

class Options : public cli_test {
  protected:
    void SetUp() override {
        dir.write("a", "abc");
        dir.write("b", "123456789");
    }
    bool is_md5_list(const std::string& name) {
        auto lines = entry_lines(dir.read(name));
        return !lines.empty() && lines[0].size() > 34 && lines[0].substr(32, 2) == " *";
    }
    bool is_sfv_list(const std::string& name) {
        auto lines = entry_lines(dir.read(name));
        return !lines.empty() && lines[0].size() > 9 && lines[0][lines[0].size() - 9] == ' ';
    }
};

const char* const usage_first_line = "korvane  version 3.00\n";

TEST_F(Options, NoArgumentsPrintsTheUsageAndSucceeds) {
    auto r = korvane({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(usage_first_line, 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\nkorvane is a fast file checksum creation and validation tool.\n\n"
                         "Usage: korvane [OPTIONS] checksum_file\n"
                         "  or   korvane [OPTIONS] -c checksum_file file1 file2 ...\n"
                         "  or   korvane [OPTIONS] -u checksum_file [file1 file2 ...]\n"
                         "\nOptions\n"
                         "-a, --all              always verify all files\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("-x, --one-file-system  don't cross filesystem boundaries\n"),
              std::string::npos);
    EXPECT_EQ(r.err, "");
}

TEST_F(Options, HelpAndVersionStopThePassWhereTheyStand) {
    auto help = korvane({"-h", "-t", "bad"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(usage_first_line, 0), 0u);

    auto bad_first = korvane({"-t", "bad", "-h"});
    EXPECT_EQ(bad_first.status, exit_status(-8));

    auto version = korvane({"--version", "-t", "bad"});
    EXPECT_EQ(version.status, 0);
    // The invoked name, exactly as typed.
    EXPECT_EQ(version.out.rfind(std::string(KORVANE_BINARY) + "  version 3.00\n", 0), 0u)
        << version.out;
    EXPECT_EQ(version.out.find("Usage:"), std::string::npos);
}

TEST_F(Options, MissingValuesAndBadTypesAreUsageErrors) {
    for (const auto& args : std::vector<std::vector<std::string>>{{"-c"},
                                                                  {"--create", "out.sfv", "a"},
                                                                  {"-t"},
                                                                  {"--type", "md5", "a"},
                                                                  {"-t", "crc", "a.sfv"},
                                                                  {"--type=sha", "a"},
                                                                  {"-t", "sha384", "a"},
                                                                  {"-p"},
                                                                  {"--parent", "dir", "x.sfv"},
                                                                  {"-p=", "x.sfv"},
                                                                  {"-p", "", "x.sfv"}}) {
        auto r = korvane(args);
        EXPECT_EQ(r.status, exit_status(-8)) << args[0];
        EXPECT_EQ(r.out.rfind(usage_first_line, 0), 0u) << args[0];
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.sfv"));
}

TEST_F(Options, CreateTakesItsValueInEveryAllowedForm) {
    EXPECT_EQ(korvane({"-c", "one.sfv", "a", "b"}).status, 0);
    EXPECT_EQ(korvane({"-c=two.sfv", "a", "b"}).status, 0);
    EXPECT_EQ(korvane({"--create=three.sfv", "a", "b"}).status, 0);
    for (const char* name : {"one.sfv", "two.sfv", "three.sfv"}) {
        EXPECT_EQ(entry_lines(dir.read(name)),
                  (std::vector<std::string>{"a " + crc_abc, "b " + crc_123456789}))
            << name;
    }
}

TEST_F(Options, TheTypeFollowsExtensionsUnlessForced) {
    ASSERT_EQ(korvane({"-c", "out.MD5", "a"}).status, 0);
    EXPECT_TRUE(is_md5_list("out.MD5"));
    ASSERT_EQ(korvane({"-c", "out.txt", "a"}).status, 0);
    EXPECT_TRUE(is_sfv_list("out.txt"));
    ASSERT_EQ(korvane({"-t", "md5", "-c", "f1.sfv", "a"}).status, 0);
    EXPECT_TRUE(is_md5_list("f1.sfv"));
    ASSERT_EQ(korvane({"-c", "f2.sfv", "-t", "MD5", "a"}).status, 0);
    EXPECT_TRUE(is_md5_list("f2.sfv"));
    // A first match ahead of -c does not outweigh the target's extension.
    dir.write("x.md5", "");
    ASSERT_EQ(korvane({"x.md5", "-c", "f3.sfv", "b"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("f3.sfv")),
              (std::vector<std::string>{"x.md5 00000000", "b " + crc_123456789}));
    // The last of several -c wins.
    ASSERT_EQ(korvane({"-c", "first.md5", "-c", "second.sfv", "a"}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "first.md5"));
    EXPECT_TRUE(is_sfv_list("second.sfv"));
}

TEST_F(Options, TheValueOfDashCIsTheNextTokenWhateverItLooksLike) {
    ASSERT_EQ(korvane({"-c", "-r", "a"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("-r")), (std::vector<std::string>{"a " + crc_abc}));
    // "x=y.sfv" as the following element names x: the option keeps the split.
    ASSERT_EQ(korvane({"-c", "x=y.sfv", "a"}).status, 0);
    EXPECT_TRUE(is_sfv_list("x"));
    EXPECT_FALSE(std::filesystem::exists(dir / "y.sfv"));
}

TEST_F(Options, AFileArgumentKeepsItsWholeElement) {
    dir.write("date=2020-01-01/photo.jpg", "abc");
    ASSERT_EQ(korvane({"-r", "-c", "list.sfv", "date=2020-01-01"}).status, 0);
    EXPECT_EQ(entry_lines(dir.read("list.sfv")),
              (std::vector<std::string>{"date=2020-01-01/photo.jpg " + crc_abc}));
}

TEST_F(Options, AllIsAcceptedLikeDoall) {
    ASSERT_EQ(korvane({"-c", "list.sfv", "a"}).status, 0);
    let_time_pass();
    ASSERT_EQ(korvane({"list.sfv"}).status, 0);
    auto again = korvane({"list.sfv"});
    EXPECT_NE(again.out.find("a: Previously verified Ok\n"), std::string::npos) << again.out;
    for (const char* flag : {"--all", "-a", "--doall"}) {
        auto r = korvane({flag, "list.sfv"});
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find("a: Ok                   \n"), std::string::npos) << flag;
    }
}

TEST_F(Options, ListsArePickedByExtensionOrByForce) {
    dir.write("list.md5", md5_abc + " *a\r\n");
    auto md5 = korvane({"list.md5"});
    EXPECT_EQ(md5.status, 0) << md5.out;
    EXPECT_NE(md5.out.find("a: Ok"), std::string::npos);

    dir.write("list.txt", "a " + crc_abc + "\r\n");
    EXPECT_EQ(korvane({"list.txt"}).status, 0);

    dir.write("sums.txt", md5_abc + "  a\n");
    EXPECT_EQ(korvane({"-t", "md5", "sums.txt"}).status, 0);
    EXPECT_EQ(korvane({"sums.txt"}).status, 0);  // its content makes it an MD5 list
    // Forced to SFV it names a file "900150...".
    EXPECT_EQ(korvane({"-t", "sfv", "sums.txt"}).status, 1);
}

TEST_F(Options, AListThatMatchesNothingPrintsTheUsage) {
    auto r = korvane({"missing.sfv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind(usage_first_line, 0), 0u);
}

}  // namespace
}  // namespace korvane::testing
