// The exclude patterns: the matcher and how a name is put to it.
#include <gtest/gtest.h>

#include <string>

#include "exclude.h"

namespace korvane::app {
namespace {

TEST(GlobMatch, StarAndQuestionMarkStayWithinOneComponent) {
    EXPECT_TRUE(glob_match(L"*.tmp", L"a.tmp"));
    EXPECT_TRUE(glob_match(L"*.tmp", L".tmp"));
    EXPECT_FALSE(glob_match(L"*.tmp", L"a/b.tmp"));
    EXPECT_FALSE(glob_match(L"*.tmp", L"a.tmp.x"));
    EXPECT_TRUE(glob_match(L"a?c", L"abc"));
    EXPECT_FALSE(glob_match(L"a?c", L"a/c"));
    EXPECT_FALSE(glob_match(L"a?c", L"ac"));
    EXPECT_TRUE(glob_match(L"a/*/c", L"a/b/c"));
    EXPECT_FALSE(glob_match(L"a/*/c", L"a/b/x/c"));
    EXPECT_TRUE(glob_match(L"*", L""));
    EXPECT_FALSE(glob_match(L"", L"a"));
    EXPECT_TRUE(glob_match(L"", L""));
}

TEST(GlobMatch, LiteralUnitsMatchOnlyThemselves) {
    EXPECT_TRUE(glob_match(L"cache", L"cache"));
    EXPECT_FALSE(glob_match(L"cache", L"cache2"));
    EXPECT_FALSE(glob_match(L"cache", L"xcache"));
    EXPECT_TRUE(glob_match(L"[a]", L"[a]"));  // no classes: brackets are units
    EXPECT_FALSE(glob_match(L"[a]", L"a"));
}

TEST(GlobMatch, DoubleStarCrossesFolders) {
    EXPECT_TRUE(glob_match(L"**.tmp", L"a/b/c.tmp"));
    EXPECT_TRUE(glob_match(L"a/**", L"a/b/c"));
    EXPECT_TRUE(glob_match(L"a/**/c", L"a/x/y/c"));
    EXPECT_TRUE(glob_match(L"a/**/c", L"a/x/c"));
    EXPECT_FALSE(glob_match(L"a/**/c", L"b/x/c"));
    EXPECT_TRUE(glob_match(L"**", L"any/thing/at/all"));
}

TEST(GlobMatch, DoubleStarSlashAlsoMatchesNoFolder) {
    EXPECT_TRUE(glob_match(L"**/*.tmp", L"a.tmp"));
    EXPECT_TRUE(glob_match(L"**/*.tmp", L"a/b.tmp"));
    EXPECT_TRUE(glob_match(L"**/*.tmp", L"a/b/c.tmp"));
    EXPECT_TRUE(glob_match(L"a/**/c", L"a/c"));
    // It stands for whole folders: no part of a name before the rest.
    EXPECT_FALSE(glob_match(L"**/b", L"xb"));
    EXPECT_FALSE(glob_match(L"a/**/c", L"a/xc"));
    EXPECT_TRUE(glob_match(L"**/x/**/y", L"x/y"));
}

TEST(GlobMatch, ManyStarsDoNotTakeForever) {
    const std::wstring text(260, L'a');
    EXPECT_FALSE(glob_match(L"*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*b", text));
    EXPECT_FALSE(glob_match(L"**a**a**a**a**a**a**a**a**a**a**a**b", text));
}

TEST(ExcludeMatches, PathBelowTheFolderAndBaseName) {
    EXPECT_TRUE(exclude_matches(L"*.tmp", L"a/b.tmp", false));  // by its base name
    EXPECT_TRUE(exclude_matches(L"a/*.tmp", L"a/b.tmp", false));
    EXPECT_FALSE(exclude_matches(L"x/*.tmp", L"a/b.tmp", false));
    EXPECT_TRUE(exclude_matches(L"b.tmp", L"a/b.tmp", false));
    EXPECT_FALSE(exclude_matches(L"a", L"a/b.tmp", false));  // the folder is judged on its own
    EXPECT_TRUE(exclude_matches(L"cache", L"x/cache", true));
    EXPECT_TRUE(exclude_matches(L"cache", L"x/cache", false));
}

TEST(ExcludeMatches, TrailingSlashTakesFoldersOnly) {
    EXPECT_TRUE(exclude_matches(L"cache/", L"cache", true));
    EXPECT_TRUE(exclude_matches(L"cache/", L"a/cache", true));
    EXPECT_FALSE(exclude_matches(L"cache/", L"cache", false));
    EXPECT_FALSE(exclude_matches(L"cache/", L"a/cache", false));
    EXPECT_TRUE(exclude_matches(L"a/*/", L"a/b", true));
    EXPECT_FALSE(exclude_matches(L"/", L"a", true));  // nothing left to match
}

TEST(ExcludeList, AnyPatternTakes) {
    exclude_list excludes;
    EXPECT_FALSE(excludes.takes(L"a.tmp", false));
    excludes.add(L"*.log");
    excludes.add(L"**/*.tmp");
    EXPECT_TRUE(excludes.takes(L"a.tmp", false));
    EXPECT_TRUE(excludes.takes(L"x/y.log", false));
    EXPECT_FALSE(excludes.takes(L"x/y.txt", false));
}

TEST(ExcludeList, NamedPathsAreJudgedWithEveryFolderInThem) {
    exclude_list excludes;
    excludes.add(L".git/");
    excludes.add(L"*.tmp");
    excludes.add(L"build/**/*.o");
    EXPECT_TRUE(excludes.takes_named(L"./.git/objects/ab", false));
    EXPECT_TRUE(excludes.takes_named(L".git", true));
    EXPECT_FALSE(excludes.takes_named(L".git", false));  // a file of that name
    EXPECT_TRUE(excludes.takes_named(L"sub/a.tmp", false));
    EXPECT_TRUE(excludes.takes_named(L"x.tmp/a.txt", false));  // a folder named so
    EXPECT_TRUE(excludes.takes_named(L"build/x/y.o", false));
    EXPECT_TRUE(excludes.takes_named(L"./build/y.o", false));
    EXPECT_FALSE(excludes.takes_named(L"src/build/y.o", false));  // anchored to the start
    EXPECT_FALSE(excludes.takes_named(L"sub/a.txt", false));
}

TEST(ExcludeList, DotComponentsAreNeverJudged) {
    exclude_list excludes;
    excludes.add(L".*");
    EXPECT_FALSE(excludes.takes_named(L".", true));
    EXPECT_FALSE(excludes.takes_named(L"./a", false));
    EXPECT_FALSE(excludes.takes_named(L"../a", false));
    EXPECT_TRUE(excludes.takes_named(L"./.hidden", false));
    EXPECT_TRUE(excludes.takes_named(L"a//.hidden/b", false));
}

}  // namespace
}  // namespace korvane::app
