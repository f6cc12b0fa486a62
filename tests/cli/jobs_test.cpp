// Several files in flight: the option, the setting, and runs whose every line
// and list bit are those of one file at a time.
#include <cstdio>

#include "cli_helpers.h"
#include "support/cli.h"

namespace korvane::testing {
namespace {

class Jobs : public cli_test {
  protected:
    static std::string name_of(int i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%03d", i);
        return name;
    }
    void write_files(int count) {
        for (int i = 0; i < count; ++i) {
            // Some files span several chunks, so that later small files are
            // done long before the earlier large ones.
            const std::size_t size = i % 50 == 3 ? 700000 : static_cast<std::size_t>(i) * 13;
            dir.write(name_of(i), random_bytes(size, static_cast<unsigned>(i)));
        }
    }
};

TEST_F(Jobs, TheCountIsAPlainNumberFromOneToSixtyFour) {
    dir.write("a", "abc");
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-j", "1", "-c", "one.sfv", "a"},
                                               {"-j=7", "-c", "two.sfv", "a"},
                                               {"--jobs=64", "-c", "three.sfv", "a"},
                                               {"-j", "2", "one.sfv"}}) {
        auto r = korvane(args);
        EXPECT_EQ(r.status, 0) << args[0] << r.out;
    }
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"-j"},
                                               {"-j", "0", "-c", "x.sfv", "a"},
                                               {"--jobs=65", "-c", "x.sfv", "a"},
                                               {"--jobs=two", "-c", "x.sfv", "a"},
                                               {"-j", "-1", "-c", "x.sfv", "a"},
                                               {"--jobs", "3", "-c", "x.sfv", "a"}}) {
        auto r = korvane(args);
        EXPECT_EQ(r.status, exit_status(-8)) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "x.sfv"));
}

TEST_F(Jobs, ASettingThatIsNoCountIsIgnored) {
    dir.write("a", "abc");
    for (const char* setting : {"jobs=3\n", "jobs=0\n", "jobs=lots\n", "jobs=\n"}) {
        write_config(setting);
        auto r = korvane({"-c", "list.sfv", "a"});
        EXPECT_EQ(r.status, 0) << setting;
        EXPECT_EQ(entry_lines(dir.read("list.sfv")), std::vector<std::string>{"a " + crc_abc});
    }
}

TEST_F(Jobs, AnOptionAfterTheFilesStillDecidesWhatIsHashed) {
    // Files are hashed while the arguments are still being expanded; a type
    // or a count given after them must still hold for every entry.
    for (int i = 0; i < 300; ++i) {
        dir.write("d/" + name_of(i), random_bytes(static_cast<std::size_t>(i) * 7, i));
    }
    auto reference = korvane({"-t", "sfv", "-r", "-c", "first.md5", "d"});
    ASSERT_EQ(reference.status, 0) << reference.out;
    auto late = korvane({"-r", "-c", "late.md5", "d", "-t", "sfv", "-j", "1"});
    ASSERT_EQ(late.status, 0) << late.out;
    EXPECT_EQ(late.out, reference.out);
    EXPECT_EQ(entry_lines(dir.read("late.md5")), entry_lines(dir.read("first.md5")));
    EXPECT_EQ(entry_lines(dir.read("late.md5")).size(), 300u);

    auto md5 = korvane({"-r", "-c", "list.sfv", "d", "-t", "md5"});
    ASSERT_EQ(md5.status, 0) << md5.out;
    auto verified = korvane({"-q", "-t", "md5", "list.sfv"});
    EXPECT_EQ(verified.status, 0) << verified.out;
    EXPECT_EQ(verified.out, "300 files checked\nAll files Ok\n");
}

TEST_F(Jobs, EveryCountGivesTheSameLinesListsAndBits) {
    write_files(300);
    std::string lists[3];
    const char* counts[] = {"1", "2", "5"};
    for (int k = 0; k < 3; ++k) {
        auto created = korvane({"-j", counts[k], "-c", "list.sfv", "f*"});
        ASSERT_EQ(created.status, 0) << created.out;
        auto md5 = korvane({"-j", counts[k], "-c", "list.md5", "f*"});
        ASSERT_EQ(md5.status, 0) << md5.out;
        lists[k] = dir.read("list.sfv");
        EXPECT_EQ(entry_lines(lists[k]), entry_lines(lists[0])) << counts[k];
        EXPECT_EQ(entry_lines(dir.read("list.md5")).size(), 300u);
    }
    let_time_pass();
    auto first = korvane({"list.sfv"});
    ASSERT_EQ(first.status, 0) << first.out;

    // Entries that changed, vanished or stay trusted, spread over the list:
    // the remembered bits are asked for while earlier entries are in flight.
    dir.write(name_of(5), "changed");
    dir.write(name_of(150), "changed too");
    std::filesystem::remove(dir / name_of(77));
    std::filesystem::remove(dir / name_of(299));
    const std::string tagged = dir.read("list.sfv");
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        const std::string name = name_of(i);
        if (i == 77 || i == 299) {
            expected += name + ": 100% complete\r" + name + ": File error: File not found\n";
        } else if (i == 5 || i == 150) {
            // Another size than the list records: an edit, said after it.
            expected += name + ": 100% complete\r" + name + ": hash mismatch: \n" + name +
                        ": changed (modified \n";
        } else {
            expected += name + ": Previously verified Ok\n";
        }
    }
    for (const char* count : counts) {
        dir.write("list.sfv", tagged);
        auto r = korvane({"-j", count, "list.sfv"});
        EXPECT_EQ(r.status, 1);
        // Line by line; a mismatch line is compared up to its digests.
        std::vector<std::string> got = lines_of(r.out);
        std::vector<std::string> want = lines_of(expected);
        ASSERT_GE(got.size(), want.size()) << count;
        for (std::size_t i = 0; i < want.size(); ++i) {
            const bool whole = want[i].back() != ' ';
            EXPECT_EQ(whole ? got[i] : got[i].substr(0, want[i].size()), want[i])
                << count << " line " << i;
        }
        EXPECT_NE(r.out.find("300 files checked\n2 errors detected\n2 missing files detected\n"),
                  std::string::npos)
            << r.out;
        // The bits written back: a further run trusts exactly the same entries.
        auto again = korvane({"-j", "1", "list.sfv"});
        EXPECT_EQ(again.out, r.out) << count;
    }
}

TEST_F(Jobs, TooFewDescriptorsForTheFilesInFlightFailNoFile) {
#if defined(_WIN32)
    GTEST_SKIP() << "no per-process descriptor limit";
#elif defined(KORVANE_TESTS_UBSAN)
    GTEST_SKIP() << "UBSan's type check needs descriptors of its own";
#endif
    // Files large enough to stay open a while, so that many are open at once:
    // the files in flight must shrink to what the process can hold.
    for (int i = 0; i < 300; ++i) {
        dir.write("d/" + name_of(i), random_bytes(60000 + static_cast<std::size_t>(i) * 997, i));
    }
    auto reference = korvane({"-q", "-r", "-c", "all.sfv", "d"});
    ASSERT_EQ(reference.status, 0) << reference.out;
    ASSERT_EQ(korvane({"-q", "-r", "-c", "all.md5", "d"}).status, 0);
    descriptor_limit = 20;
    for (const char* list : {"new.sfv", "new.md5"}) {
        auto created = korvane({"-j", "64", "-r", "-c", list, "d"});
        EXPECT_EQ(created.status, 0) << list << created.out << created.err;
        EXPECT_EQ(created.out.find("error"), std::string::npos) << created.out;
        const std::string all = std::string("all") + (list[4] == 's' ? ".sfv" : ".md5");
        EXPECT_EQ(entry_lines(dir.read(list)), entry_lines(dir.read(all))) << list;
        auto verified = korvane({"-q", "-j", "64", "-a", all});
        EXPECT_EQ(verified.status, 0) << all << verified.out;
        EXPECT_EQ(verified.out, "300 files checked\nAll files Ok\n") << all;
    }
    // No descriptor left for a single file: the run ends with a clear line,
    // no file is called unreadable.
    descriptor_limit = 4;
    auto starved = korvane({"-j", "4", "-a", "all.sfv"});
    EXPECT_EQ(starved.status, exit_status(-1)) << starved.out;
    EXPECT_NE(starved.out.find("Error processing file d/f000: Too many open files\n"),
              std::string::npos)
        << starved.out;
    EXPECT_EQ(starved.out.find("File error"), std::string::npos) << starved.out;
}

}  // namespace
}  // namespace korvane::testing
