// Every list type of the registry end to end: made, verified, typed by each of
// its names and by its content, its digest text in a mismatch line, and a
// round trip with the other tools that know it. A new row is tested here
// without a test of its own.
#include <korvane/container.h>
#include <korvane/hasher.h>
#include <korvane/list_types.h>
#include <korvane/sfv.h>

#include <cctype>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

std::string narrow(const wchar_t* text) {
    std::string out;
    for (; *text != L'\0'; ++text) {
        out += static_cast<char>(*text);  // the rows' names are ASCII
    }
    return out;
}

std::string upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<std::string> names(const wchar_t* const (&row_names)[list_type::max_names]) {
    std::vector<std::string> out;
    for (const wchar_t* name : row_names) {
        if (name != nullptr) {
            out.push_back(narrow(name));
        }
    }
    return out;
}

// The line of a list that names `file`.
std::string line_naming(const std::string& list, const std::string& file) {
    for (const std::string& line : entry_lines(list)) {
        if (line.find(file) != std::string::npos) {
            return line;
        }
    }
    return {};
}

class ListTypeRows : public cli_test, public ::testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        dir.write("a.txt", "abc");
        dir.write("with space.bin", random_bytes(100000, 7));
        dir.write("sub/c", "123456789");
    }

    const list_type& row() const { return *list_type::at(GetParam()); }
    std::string word() const { return narrow(row().word); }

    // The type a plain line of this type's lists is taken for: the oldest of
    // the digest lines (md5sum's or xxhsum's) with digests of the same
    // length. A newer type's lists are known by their content only from BSD
    // lines.
    int plain_by_content() const {
        const auto digest_lines = [](const list_type& type) {
            return type.form != list_type::line_form::crc;
        };
        for (int type = 0;; ++type) {
            const list_type& older = *list_type::at(type);
            if ((older.form == row().form || (digest_lines(older) && digest_lines(row()))) &&
                older.digest_size == row().digest_size) {
                return type;
            }
        }
    }

    // The type our own lists of this type are taken for by their content:
    // xxhsum's are written in BSD lines, which say their type.
    int by_content() const {
        return row().form == list_type::line_form::xxhsum ? GetParam() : plain_by_content();
    }

    // The type container::detectFormat finds in a list of the folder.
    int content_type(const std::string& name) const {
        int format = -2;
        const int result = container::detectFormat((dir / name).wstring().c_str(), &format);
        return result == 0 ? format : -100 + result;
    }

    // Makes `name` with the files, with the arguments in front given.
    void create(std::vector<std::string> args, const std::string& name) {
        args.insert(args.end(), {"-q", "-c", name});
        args.insert(args.end(), files.begin(), files.end());
        const cli_result made = korvane(args);
        ASSERT_EQ(made.status, 0) << name << made.out << made.err;
    }

    void expect_verifies(std::vector<std::string> args, const std::string& name) {
        args.insert(args.end(), {"-q", name});
        const cli_result check = korvane(args);
        EXPECT_EQ(check.status, 0) << word() << " " << name << check.err;
        EXPECT_EQ(check.out, all_ok) << word() << " " << name;
    }

    bool have(const std::string& tool) {
        return !on_windows && run({"sh", "-c", "command -v " + tool + " >/dev/null"}).status == 0;
    }

    // Another tool checks our list, then makes its own, which we verify as
    // it stands (typed by content) and under our first name for the type.
    void round_trip(const std::string& check, const std::string& make, const std::string& ours) {
        SCOPED_TRACE(make);
        const cli_result theirs_check = run({"sh", "-c", check + " " + ours});
        EXPECT_EQ(theirs_check.status, 0) << theirs_check.out << theirs_check.err;
        ASSERT_EQ(run({"sh", "-c", make + " a.txt 'with space.bin' sub/c > theirs.txt"}).status, 0);
        if (plain_by_content() == GetParam() || make.find("--tag") != std::string::npos ||
            make.find("--bsd") != std::string::npos) {
            expect_verifies({}, "theirs.txt");
        }
        const std::string renamed = "theirs" + names(row().extensions).at(0);
        std::filesystem::copy_file(dir / "theirs.txt", dir / renamed,
                                   std::filesystem::copy_options::overwrite_existing);
        expect_verifies({}, renamed);
    }

    const std::vector<std::string> files{"a.txt", "with space.bin", "sub/c"};
    const std::string all_ok = "3 files checked\nAll files Ok\n";
};

// What a row says of itself holds for the objects it makes.
TEST_P(ListTypeRows, TheHasherAndTheListAgreeWithTheRow) {
    const korvane::owned_hasher made = row().make_hasher();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->hash_size(), row().digest_size);
    const std::unique_ptr<container> list = row().make_list();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(dynamic_cast<sfv*>(list.get()) != nullptr, row().carries_tag);
}

TEST_P(ListTypeRows, TheWordOfTypeTNamesIt) {
    create({"-t", word()}, "forced.txt");
    EXPECT_EQ(content_type("forced.txt"), by_content());
    expect_verifies({"-t", upper(word())}, "forced.txt");
    // A name that says nothing: the content tells (a newer type's plain
    // lines pass for the older type's).
    if (by_content() == GetParam()) {
        expect_verifies({}, "forced.txt");
    }
}

TEST_P(ListTypeRows, EveryExtensionAndBareNameTypesIt) {
    std::vector<std::string> lists;
    for (const std::string& extension : names(row().extensions)) {
        lists.push_back("list" + extension);
        lists.push_back("LIST" + upper(extension));
    }
    for (const std::string& bare : names(row().bare_names)) {
        lists.push_back(bare);
        lists.push_back("sub/" + bare);
    }
    ASSERT_FALSE(lists.empty()) << word() << " has no name that gives it";
    for (const std::string& list : lists) {
        create({}, list);
        // What was written is this type's, as far as its content can tell.
        EXPECT_EQ(content_type(list), by_content()) << list;
        if (list.rfind("sub/", 0) != 0) {
            expect_verifies({}, list);
        }
    }
}

TEST_P(ListTypeRows, AMismatchShowsBothDigestsAsTheListWritesThem) {
    const std::string name = "list" + names(row().extensions).at(0);
    create({}, name);
    dir.write("a.txt", "abd");
    create({}, "fresh" + names(row().extensions).at(0));
    const cli_result check = korvane({"-q", name});
    EXPECT_EQ(check.status, 1);

    const std::string prefix = "a.txt: hash mismatch: ";
    const std::size_t start = check.out.find(prefix);
    ASSERT_NE(start, std::string::npos) << check.out;
    const std::size_t digits = 2 * static_cast<std::size_t>(row().digest_size);
    const std::string shown = check.out.substr(start + prefix.size(), 2 * digits + 5);
    ASSERT_EQ(shown.substr(digits, 4), " != ") << check.out;
    ASSERT_EQ(shown.back(), '\n') << check.out;
    const std::string stored = shown.substr(0, digits);
    const std::string computed = shown.substr(digits + 4, digits);
    EXPECT_NE(line_naming(read_file(dir / name), "a.txt").find(stored), std::string::npos)
        << stored;
    EXPECT_NE(line_naming(read_file(dir / ("fresh" + names(row().extensions).at(0))), "a.txt")
                  .find(computed),
              std::string::npos)
        << computed;
}

TEST_P(ListTypeRows, TheOtherToolsReadOursAndWeReadTheirs) {
    const std::string ours = "ours" + names(row().extensions).at(0);
    create({}, ours);
    bool any = false;
    // GNU's tools are named after the algorithm; their checks name the file
    // only when it fails.
    if (row().form == list_type::line_form::digest && have(word() + "sum")) {
        any = true;
        round_trip(word() + "sum --quiet -c", word() + "sum", ours);
        round_trip(word() + "sum --quiet -c", word() + "sum --tag", ours);
    }
    // Debian's xxhsum 0.8.1 takes -H1 for XXH64, -H2 for XXH128, -H3 for XXH3.
    if (row().form == list_type::line_form::xxhsum && have("xxhsum")) {
        any = true;
        const std::string bits = word() == "xxh64" ? "1" : word() == "xxh128" ? "2" : "3";
        round_trip("xxhsum --quiet --strict -c", "xxhsum -H" + bits, ours);
        round_trip("xxhsum --quiet --strict -c", "xxhsum --tag -H" + bits, ours);
    }
    if (row().form == list_type::line_form::crc && have("cksfv")) {
        any = true;
        round_trip("cksfv -q -f", "cksfv", ours);
    }
    // rhash takes the word as its option, where it knows the type.
    if (have("rhash") && run({"rhash", "--" + word(), "a.txt"}).status == 0) {
        any = true;
        round_trip("rhash --skip-ok -c", "rhash --" + word(), ours);
        if (row().bsd_name[0] != '\0') {
            round_trip("rhash --skip-ok -c", "rhash --bsd --" + word(), ours);
        }
    }
    if (!any) {
        GTEST_SKIP() << "no other tool for " << word() << " is installed";
    }
}

INSTANTIATE_TEST_SUITE_P(Registry, ListTypeRows, ::testing::Range(0, list_type::count()),
                         [](const ::testing::TestParamInfo<int>& row) {
                             return narrow(list_type::at(row.param)->word);
                         });

}  // namespace
}  // namespace korvane::testing
