// The sorted listing of a directory: the order of a plain sort whether the
// names fit in memory or are sorted in runs on disk and merged, and every
// failure reported rather than a partial listing.
#include "platform/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/file.h"
#include "platform/text.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;
namespace platform = korvane::platform;
using names = std::vector<std::wstring>;

// The names a folder holds, "." and ".." with them, by a plain sort of the
// wide names (units compare unsigned on every target for the names used).
names plain_sort(const fs::path& folder) {
    names all{L".", L".."};
    for (const auto& entry : fs::directory_iterator(folder)) {
        all.push_back(wide_path(entry.path().filename()));
    }
    std::sort(all.begin(), all.end());
    return all;
}

// Names that sort apart only late or by bytes above 127: long shared
// prefixes, one name the prefix of another, the longest name a folder takes.
std::vector<std::string> awkward_names(int count) {
    std::vector<std::string> made;
    const std::string prefix(200, 'p');
    for (int i = 0; i < count; ++i) {
        const std::string number = std::to_string(i * 7919 % 1000);
        made.push_back(prefix + number);
        made.push_back(prefix + number + "x");
        made.push_back(std::string(255 - number.size(), 'q') + number);
        made.push_back("\xc3\xa9" + number);  // é, above 127 in both encodings
        made.push_back("e" + number);
        made.push_back("\xe2\x82\xac" + number);  // €
        made.push_back("Z" + number);
    }
    std::sort(made.begin(), made.end());
    made.erase(std::unique(made.begin(), made.end()), made.end());
    return made;
}

class SortedListing : public ::testing::Test {
  protected:
    temp_dir dir;
    temp_dir scratch_place;
    int scratch_files = 0;

    platform::sorted_listing::scratch_maker scratch_maker() {
        return [this](platform::native_file& file) {
            ++scratch_files;
            return file.create_scratch_beside(wide_path(scratch_place / "scratch").c_str());
        };
    }
    names list(platform::sorted_listing& listing) {
        names out;
        EXPECT_EQ(listing.open(wide_path(dir.path()).c_str(), scratch_maker()), 0);
        std::wstring name;
        int got = 0;
        while ((got = listing.next(name)) > 0) {
            out.push_back(name);
        }
        EXPECT_EQ(got, 0);
        listing.close();
        return out;
    }
    void fill(int count) {
        for (const std::string& name : awkward_names(count)) {
            dir.write(name, "");
        }
        fs::create_directory(dir / "sub");
    }
};

TEST_F(SortedListing, AFolderThatFitsIsSortedInMemory) {
    fill(10);
    platform::sorted_listing listing;
    EXPECT_EQ(list(listing), plain_sort(dir.path()));
    EXPECT_EQ(listing.runs_written(), 0u);
    EXPECT_EQ(scratch_files, 0);
}

TEST_F(SortedListing, ALargerFolderIsSortedInRunsAndMergedInSeveralPasses) {
    fill(100);  // some 70 KiB of names against the smallest budget
    platform::sorted_listing listing(platform::sorted_listing::minimum_budget);
    const names expected = plain_sort(dir.path());
    EXPECT_EQ(list(listing), expected);
    // More runs than one merge takes at this budget: merged runs merged again.
    EXPECT_GT(listing.runs_written(), 20u);
    EXPECT_EQ(scratch_files, 1);
    // The same listing object serves the next folder, and again the same way.
    EXPECT_EQ(list(listing), expected);
    // Nothing of the scratch file remains under any name.
    EXPECT_TRUE(fs::is_empty(scratch_place.path()));
}

TEST_F(SortedListing, BudgetsBetweenGiveTheSameOrder) {
    fill(25);
    const names expected = plain_sort(dir.path());
    for (std::size_t budget : {std::size_t{5000}, std::size_t{9000}, std::size_t{40000}}) {
        platform::sorted_listing listing(budget);
        EXPECT_EQ(list(listing), expected) << budget;
    }
}

TEST_F(SortedListing, BytesAbove127SortAsUnsigned) {
    KORVANE_SKIP_ON_WINDOWS("names are UTF-16 there; the UTF-8 names above cover the order");
    // Not UTF-8: raw bytes, which a signed comparison would put before 'a'.
    for (const char* name : {"\xff", "\x80z", "a", "\x7f", "\xe9t\xe9"}) {
        dir.write(name, "");
    }
    platform::sorted_listing small(platform::sorted_listing::minimum_budget);
    const names expected{L".", L"..", L"a", L"\x7f", L"\x80z", L"\xe9t\xe9", L"\xff"};
    EXPECT_EQ(list(small), expected);
    platform::sorted_listing large;
    EXPECT_EQ(list(large), expected);
}

TEST_F(SortedListing, FailuresEndTheListingWithTheirError) {
    platform::sorted_listing listing(platform::sorted_listing::minimum_budget);
    std::wstring name;
    EXPECT_EQ(listing.open(wide_path(dir / "vanished").c_str(), scratch_maker()),
              platform::error_not_found);
    EXPECT_EQ(listing.next(name), 0);  // nothing half listed

    fill(30);
    // No place for the runs: the scratch file's error.
    auto no_scratch = [](platform::native_file&) { return platform::error_access; };
    EXPECT_EQ(listing.open(wide_path(dir.path()).c_str(), no_scratch), platform::error_access);
    EXPECT_EQ(listing.next(name), 0);

    // A run that cannot be written.
    platform::inject_write_faults(1);
    EXPECT_EQ(listing.open(wide_path(dir.path()).c_str(), scratch_maker()), platform::error_io);
    platform::inject_write_faults(0);
    EXPECT_EQ(listing.next(name), 0);

    // The same folder within the default budget needs no scratch file at all.
    platform::sorted_listing large;
    EXPECT_EQ(large.open(wide_path(dir.path()).c_str(), no_scratch), 0);
}

TEST_F(SortedListing, AFolderThatCannotBeReadIsReported) {
    KORVANE_SKIP_ON_WINDOWS("permission bits are POSIX");
    fs::create_directory(dir / "closed");
    fs::permissions(dir / "closed", fs::perms::none);
    platform::sorted_listing listing;
    const int error = listing.open(wide_path(dir / "closed").c_str(), scratch_maker());
    fs::permissions(dir / "closed", fs::perms::owner_all);
    if (error == 0) {
        GTEST_SKIP() << "running with the right to read any folder";
    }
    EXPECT_EQ(error, platform::error_access);
}

TEST_F(SortedListing, EntryInfoIsTheStatusOfTheWholePath) {
    dir.write("f", "12345");
    fs::create_directory(dir / "d");
    platform::sorted_listing listing;
    ASSERT_EQ(listing.open(wide_path(dir.path()).c_str(), scratch_maker()), 0);
    std::wstring name;
    int seen = 0;
    while (listing.next(name) > 0) {
        const std::wstring full = wide_path(dir.path()) + L"/" + name;
        platform::file_info relative;
        platform::file_info whole;
        ASSERT_EQ(listing.entry_info(full.c_str(), relative), 0);
        ASSERT_EQ(platform::get_file_info(full.c_str(), whole), 0);
        EXPECT_EQ(relative.is_directory, whole.is_directory);
        EXPECT_EQ(relative.is_regular, whole.is_regular);
        EXPECT_EQ(relative.size, whole.size);
        EXPECT_EQ(relative.device, whole.device);
        EXPECT_EQ(relative.inode, whole.inode);
        ++seen;
    }
    EXPECT_EQ(seen, 4);
    // A name gone since the listing: the error stat gives.
    ASSERT_EQ(listing.open(wide_path(dir.path()).c_str(), scratch_maker()), 0);
    while (listing.next(name) > 0 && name != L"f") {
    }
    fs::remove(dir / "f");
    platform::file_info gone;
    EXPECT_EQ(listing.entry_info((wide_path(dir.path()) + L"/f").c_str(), gone),
              platform::error_not_found);
}

// The listing's own word that a name is a regular file survives the runs on
// disk; a link, a folder or anything else is never called one.
TEST_F(SortedListing, RegularFilesAreToldApartInMemoryAndOnDisk) {
    const std::string prefix(200, 'p');
    for (int i = 0; i < 60; ++i) {
        const std::string number = std::to_string(i);
        dir.write(prefix + "r" + number, "");
        fs::create_directory(dir / (prefix + "d" + number));
        if (!on_windows) {
            fs::create_symlink(prefix + "r" + number, dir / (prefix + "l" + number));
        }
    }
    for (std::size_t budget :
         {platform::sorted_listing::default_budget, platform::sorted_listing::minimum_budget}) {
        platform::sorted_listing listing(budget);
        ASSERT_EQ(listing.open(wide_path(dir.path()).c_str(), scratch_maker()), 0);
        std::wstring name;
        std::size_t regular = 0;
        std::size_t seen = 0;
        while (listing.next(name) > 0) {
            ++seen;
            const bool is_file = name.size() > prefix.size() && name[prefix.size()] == L'r';
            // Windows never says, and the walk looks at every name there.
            EXPECT_EQ(listing.regular(), is_file && !on_windows) << budget;
            regular += listing.regular() ? 1 : 0;
        }
        EXPECT_EQ(seen, per_target<std::size_t>(182, 122));
        EXPECT_EQ(regular, per_target<std::size_t>(60, 0));
        EXPECT_EQ(listing.runs_written() != 0, budget == platform::sorted_listing::minimum_budget);
        listing.close();
    }
}

TEST(TemporaryFolder, TmpdirOrTheSystemDefault) {
    KORVANE_SKIP_ON_WINDOWS("GetTempPathW decides there");
    const auto saved = std::getenv("TMPDIR");
    const std::optional<std::string> before =
        saved != nullptr ? std::optional<std::string>(saved) : std::nullopt;
    std::wstring folder;
    set_environment("TMPDIR", "/some/where//");
    ASSERT_EQ(platform::temporary_folder(folder), 0);
    EXPECT_EQ(folder, L"/some/where");
    set_environment("TMPDIR", "");
    ASSERT_EQ(platform::temporary_folder(folder), 0);
    EXPECT_EQ(folder, L"/tmp");
    set_environment("TMPDIR", before);
}

}  // namespace
}  // namespace korvane::testing
