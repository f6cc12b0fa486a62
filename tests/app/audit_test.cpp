// The keys an audit compares names by, and the set that holds a list's keys.
#include "audit.h"

#include <gtest/gtest.h>

#include <string>

#include "support/target.h"

namespace korvane::app {
namespace {

std::string key_of(const std::wstring& path, const std::string& current = "/home/u/photos") {
    std::string key;
    name_key(path, current, key);
    return key;
}

TEST(NameKey, EverySpellingOfAFileGivesOneKeyAndOthersAnother) {
    const std::string a = key_of(L"sub/a");
    for (const wchar_t* same :
         {L"./sub/a", L"sub//a", L"sub/./a", L"x/../sub/a", L"sub/a/", L"/home/u/photos/sub/a",
          L"/home/u/../u/photos/sub/a", L"../photos/sub/a"}) {
        EXPECT_EQ(key_of(same), a) << std::string(same, same + std::wcslen(same));
    }
    // Letter case counts where the file system says it does.
    EXPECT_EQ(key_of(L"sub/A") == a, korvane::testing::on_windows);
    EXPECT_NE(key_of(L"suba"), a);
    // Outside the current folder, and a ".." above the root, which stays there.
    EXPECT_EQ(key_of(L"../x"), key_of(L"/home/u/x"));
    EXPECT_NE(key_of(L"../x"), key_of(L"x"));
    EXPECT_EQ(key_of(L"/../../etc/x"), key_of(L"/etc/x"));
    // A folder named like the current one's prefix is not below it.
    EXPECT_NE(key_of(L"/home/u/photos2/a"), key_of(L"2/a"));
    // Names beyond ASCII keep their units apart.
    EXPECT_NE(key_of(L"caf\u00e9"), key_of(L"cafe"));
    EXPECT_EQ(key_of(L"./caf\u00e9/x"), key_of(L"caf\u00e9//x"));
}

TEST(ListedNames, HoldsEveryKeyOnceThroughItsGrowth) {
    listed_names names;
    for (int i = 0; i < 50000; ++i) {
        ASSERT_TRUE(names.add("/d" + std::to_string(i % 97) + "/f" + std::to_string(i)));
    }
    ASSERT_TRUE(names.add("/d0/f0"));  // twice: one name
    EXPECT_EQ(names.size(), 50000u);
    for (int i = 0; i < 50000; ++i) {
        ASSERT_TRUE(names.contains("/d" + std::to_string(i % 97) + "/f" + std::to_string(i)));
        ASSERT_FALSE(names.contains("/d" + std::to_string(i % 97) + "/g" + std::to_string(i)));
    }
    EXPECT_FALSE(names.contains(""));
    EXPECT_FALSE(listed_names().contains("/a"));
}

}  // namespace
}  // namespace korvane::app
