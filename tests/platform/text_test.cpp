// The small text helpers every layer shares: hexadecimal digits and ASCII-only
// case folding, at the edges where a hand-written copy would slip.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::testing {
namespace {

namespace platform = korvane::platform;
using platform::hex_case;

template <class Char>
std::basic_string<Char> hex32(std::uint32_t value, hex_case letters) {
    std::basic_string<Char> text(8, Char('?'));
    platform::encode_hex32(value, text.data(), letters);
    return text;
}

TEST(Hex, WordsKeepLeadingZerosAndEveryDigit) {
    EXPECT_EQ(hex32<char>(0, hex_case::upper), "00000000");
    EXPECT_EQ(hex32<char>(0xFFFFFFFFu, hex_case::upper), "FFFFFFFF");
    EXPECT_EQ(hex32<char>(0xFFFFFFFFu, hex_case::lower), "ffffffff");
    EXPECT_EQ(hex32<char>(0x0123ABCDu, hex_case::upper), "0123ABCD");
    EXPECT_EQ(hex32<wchar_t>(0x89ABCDEFu, hex_case::lower), L"89abcdef");
    EXPECT_EQ(hex32<wchar_t>(0x00000001u, hex_case::upper), L"00000001");
}

TEST(Hex, BytesHighHalfFirstWithoutTerminator) {
    const unsigned char bytes[] = {0x00, 0x0F, 0xF0, 0xFF, 0x5A};
    std::string text(12, '#');
    platform::encode_hex(bytes, sizeof bytes, text.data(), hex_case::lower);
    EXPECT_EQ(text, "000ff0ff5a##");  // nothing written past 2 * count
    std::wstring wide(10, L'#');
    platform::encode_hex(bytes, sizeof bytes, wide.data(), hex_case::upper);
    EXPECT_EQ(wide, L"000FF0FF5A");
    platform::encode_hex(bytes, 0, wide.data(), hex_case::lower);
    EXPECT_EQ(wide, L"000FF0FF5A");
}

TEST(AsciiCase, OnlyAsciiLettersFold) {
    using std::string_view;
    using std::wstring_view;
    EXPECT_TRUE(platform::equal_ignoring_ascii_case(string_view("Hash:"), string_view("hASH:")));
    EXPECT_TRUE(platform::equal_ignoring_ascii_case(string_view(""), string_view("")));
    EXPECT_FALSE(platform::equal_ignoring_ascii_case(string_view("md5"), string_view("md5 ")));
    // '@' and '`', '[' and '{' differ only in the bit that folds letters.
    EXPECT_FALSE(platform::equal_ignoring_ascii_case(string_view("@["), string_view("`{")));
    // Latin-1 capital and small E acute differ in that bit too, but are no
    // ASCII letters: they stay apart, as bytes and as wide units.
    EXPECT_FALSE(platform::equal_ignoring_ascii_case(string_view("\xC9"), string_view("\xE9")));
    EXPECT_FALSE(
        platform::equal_ignoring_ascii_case(wstring_view(L"\u00C9"), wstring_view(L"\u00E9")));
    EXPECT_TRUE(platform::equal_ignoring_ascii_case(string_view("\xE9"), string_view("\xE9")));
    // A byte and a wide unit compare by value, as widen() maps them.
    EXPECT_TRUE(
        platform::equal_ignoring_ascii_case(wstring_view(L"sha\u00E9"), string_view("SHA\xE9")));
    EXPECT_FALSE(
        platform::equal_ignoring_ascii_case(wstring_view(L"sha\u01E9"), string_view("SHA\xE9")));
    // A zero unit is part of the text, not its end.
    EXPECT_FALSE(
        platform::equal_ignoring_ascii_case(string_view("a\0b", 3), string_view("a\0c", 3)));
}

TEST(AsciiSpace, TheSixOfTheCLocaleAndNothingAbove) {
    int count = 0;
    for (int c = 0; c < 256; ++c) {
        count += platform::is_ascii_space(static_cast<wchar_t>(c)) ? 1 : 0;
    }
    EXPECT_EQ(count, 6);
    EXPECT_TRUE(platform::is_ascii_space(L'\t') && platform::is_ascii_space(L'\r'));
    EXPECT_FALSE(platform::is_ascii_space(L'\u00A0'));  // no-break space is a name's unit
}

}  // namespace
}  // namespace korvane::testing
