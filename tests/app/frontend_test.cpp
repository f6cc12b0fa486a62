// Pieces of the program that need no file system.
#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "expand.h"
#include "output.h"
#include "paths.h"
#include "platform/text.h"

namespace korvane::app {
namespace {

TEST(TypeFromExtension, TheWholeTailAfterTheLastDotCounts) {
    EXPECT_EQ(type_from_extension(L"a.sfv"), 0);
    EXPECT_EQ(type_from_extension(L"A.SfV"), 0);
    EXPECT_EQ(type_from_extension(L"dir/x.MD5"), 1);
    EXPECT_EQ(type_from_extension(L"a.sfv.bak"), -1);
    EXPECT_EQ(type_from_extension(L"a.sfvx"), -1);
    EXPECT_EQ(type_from_extension(L"sfv"), -1);
    EXPECT_EQ(type_from_extension(L".md5"), 1);
}

TEST(TypeFromName, ShaExtensionsAndTheNamesReleasesPublish) {
    const std::pair<const wchar_t*, int> rows[] = {
        {L"x.sha1", 2},       {L"x.SHA1SUM", 2},     {L"x.sha256", 3},      {L"x.sha256sum", 3},
        {L"x.Sha512", 4},     {L"x.sha512sum", 4},   {L"x.md5sum", 1},      {L"MD5SUMS", 1},
        {L"dir/SHA1SUMS", 2}, {L"sha256sums", 3},    {L"SHA512SUMS", 4},    {L"SHA256SUMS.asc", -1},
        {L"x.sha", -1},       {L"x.sha256.txt", -1}, {L"SHA256SUMS/x", -1}, {L"md5sums.txt", -1},
    };
    for (const auto& [name, type] : rows) {
        EXPECT_EQ(type_from_name(name), type) << name;
    }
    // The extension alone never names a type by the bare name.
    EXPECT_EQ(type_from_extension(L"SHA256SUMS"), -1);
    EXPECT_EQ(type_from_extension(L"a.sha256"), 3);
    EXPECT_EQ(type_from_word(L"SHA256"), 3);
    EXPECT_EQ(type_from_word(L"sha1"), 2);
    EXPECT_EQ(type_from_word(L"sha512"), 4);
    EXPECT_EQ(type_from_word(L"sha"), -1);
    EXPECT_EQ(type_from_word(L"crc"), -1);
}

TEST(Format, SubstitutesInOrderAndKeepsEveryUnit) {
    EXPECT_EQ(format(L"%s: %d%% complete\r", {L"caf\u00e9", 42}), L"caf\u00e9: 42% complete\r");
    EXPECT_EQ(format(L"%d files checked\n", {-3}), L"-3 files checked\n");
    EXPECT_EQ(format(L"no arguments %s"), L"no arguments ");
}

// Which units make a name be shown escaped, at the edges of each range; on
// POSIX the units are bytes, and C1 controls are their UTF-8 forms.
TEST(Format, EscapesNamesWithControlCharactersOnly) {
    const std::wstring marked = L"\\";
    for (wchar_t unit : {L'\x01', L'\x1f', L'\x7f', L'\x1b'}) {
        EXPECT_EQ(format(L"%s: Ok", {std::wstring({L'a', unit}).c_str()}).substr(0, 3),
                  marked + L"a\\")
            << static_cast<int>(unit);
    }
    EXPECT_EQ(format(L"%s: %s", {L"a\\b\n", L"Ok"}), L"\\a\\\\b\\n: Ok");
    EXPECT_EQ(format(L"%s", {L"dir\\f ~ \x20"}), L"dir\\f ~  ");
    if (korvane::platform::wide_units_are_utf16) {
        EXPECT_EQ(format(L"%s", {L"\x85"}), L"\\\\x85");
        EXPECT_EQ(format(L"%s", {L"\xa0\x7e"}), L"\xa0\x7e");
    } else {
        EXPECT_EQ(format(L"%s", {L"\xc2\x80\xc2\x9f"}), L"\\\\xc2\\x80\\xc2\\x9f");
        EXPECT_EQ(format(L"%s", {L"\xc2\x7f"}), L"\\\xc2\\x7f");
        EXPECT_EQ(format(L"%s", {L"\xc2\xa0\x9b"}), L"\xc2\xa0\x9b");  // no C1 in UTF-8
    }
}

TEST(StatusMessage, CoversTheTableAndNothingElse) {
    EXPECT_STREQ(status_message(0), L"Ok");
    EXPECT_STREQ(status_message(-3), L"File read error");
    EXPECT_STREQ(status_message(-9), L"Path error");
    EXPECT_STREQ(status_message(-10), L"Outside the signed text");
    EXPECT_STREQ(status_message(-11), L"Changed during the update, not written");
    EXPECT_STREQ(status_message(-12), L"UTF-16 list");
    EXPECT_STREQ(status_message(-13), L"Unknown error");
    EXPECT_STREQ(status_message(1), L"Unknown error");
}

// Every status crosses the library's edge and comes back as itself, and the
// program words it as it words the exported number.
TEST(Status, EveryMemberRoundTripsThroughTheExportedNumber) {
    const std::pair<status, int> table[] = {
        {status::ok, korvane_status::ok},
        {status::unknown_error, korvane_status::unknown_error},
        {status::file_not_open, korvane_status::file_not_open},
        {status::file_read_error, korvane_status::file_read_error},
        {status::file_not_found, korvane_status::file_not_found},
        {status::access_denied, korvane_status::access_denied},
        {status::invalid_line, korvane_status::invalid_line},
        {status::file_exists, korvane_status::file_exists},
        {status::invalid_arguments, korvane_status::invalid_arguments},
        {status::path_error, korvane_status::path_error},
        {status::outside_signed_text, korvane_status::outside_signed_text},
        {status::list_changed, korvane_status::list_changed},
        {status::utf16_list, korvane_status::utf16_list},
    };
    std::set<std::wstring> messages;
    for (const auto& [code, exported] : table) {
        EXPECT_EQ(to_int(code), exported);
        EXPECT_EQ(from_int(exported), code) << exported;
        EXPECT_STREQ(status_message(code), status_message(exported));
        messages.insert(status_message(code));
    }
    EXPECT_EQ(messages.size(), std::size(table));  // no two statuses read alike
    EXPECT_EQ(from_int(-13), status::unknown_error);
    EXPECT_EQ(from_int(1), status::unknown_error);
    EXPECT_EQ(from_errno(0), status::ok);
    EXPECT_EQ(status_from_errno(ENOENT), korvane_status::file_not_found);
    EXPECT_EQ(from_errno(EACCES), status::access_denied);
}

TEST(PathPool, RecordsHoldCopiesInlineOrOnTheHeapAndAreReused) {
    path_pool pool;
    path_list list;
    const std::wstring short_path = L"a/b.txt";
    const std::wstring long_path(path_record::inline_units + 10, L'x');
    std::set<path_record*> seen;
    for (int i = 0; i < 10000; ++i) {  // more than one block
        const std::wstring& text = (i % 3 == 0) ? long_path : short_path;
        path_record* record = pool.take(text.c_str(), text.size());
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->text, text);
        EXPECT_EQ(record->text == record->inline_text, text.size() < path_record::inline_units);
        seen.insert(record);
        list.append(record);
    }
    EXPECT_EQ(seen.size(), 10000u);
    std::size_t count = 0;
    for (path_record* r = list.head; r != nullptr; r = r->next) {
        ++count;
    }
    EXPECT_EQ(count, 10000u);
    list.release_all(pool);
    EXPECT_EQ(list.head, nullptr);
    // Released slots come back before any new block is taken.
    path_record* again = pool.take(L"z", 1);
    EXPECT_TRUE(seen.count(again));
    pool.release(again);
}

}  // namespace
}  // namespace korvane::app
