// The line forms of lists written by other tools: one table per format, each
// row a small list as such a tool lays it out, and the type a list's content
// shows when its name does not.
#include <gtest/gtest.h>

#include <korvane/digest_list.h>
#include <korvane/md5.h>
#include <korvane/sfv.h>
#include <korvane/status.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats_test.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

// A signature line as signify writes it: "Ed", a key number and a signature.
const std::string signify_head =
    "untrusted comment: verify with key.pub\n"
    "RWQBAgMEBQYHCAkKCwwNDg8QERITFBUWFxgZGhscHR4fICEiIyQlJicoKSorLC0uLzAxMjM0NTY3ODk6Ozw9Pj9AQUJD"
    "REVGR0g=\n";

// `text` as UTF-16 with its byte-order mark, as Windows PowerShell saves it.
std::string utf16(const std::u16string& text, bool big_endian = false) {
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        const auto high = static_cast<char>(unit >> 8);
        const auto low = static_cast<char>(unit & 0xFF);
        out += big_endian ? std::string{high, low} : std::string{low, high};
    }
    return out;
}

std::u16string u16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// UTF-8 bytes as the lists deliver names: one unit per byte.
std::wstring units(const std::string& bytes) {
    std::wstring out;
    for (char c : bytes) {
        out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return out;
}

// A name read from a UTF-16 list: its UTF-8 bytes, or on Windows, where a
// list's every byte is the character of its value, its Latin-1 text.
std::wstring from_utf16(const std::string& utf8, const std::string& latin1) {
    return units(korvane::testing::on_windows ? latin1 : utf8);
}

// Digests of the empty input.
const std::string d_md5 = "d41d8cd98f00b204e9800998ecf8427e";
const std::string d_sha1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
const std::string d_sha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string d_sha512 =
    "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
    "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e";

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'f') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::vector<unsigned char> bytes_of(const std::string& hex) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

enum class kind { md5, sha1, sha256, sha512 };

std::unique_ptr<digest_list> make_list(kind k) {
    switch (k) {
        case kind::md5:
            return std::make_unique<md5>();
        case kind::sha1:
            return std::make_unique<sha1>();
        case kind::sha256:
            return std::make_unique<sha256>();
        default:
            return std::make_unique<sha512>();
    }
}

const std::string& digest_of(kind k) {
    switch (k) {
        case kind::md5:
            return d_md5;
        case kind::sha1:
            return d_sha1;
        case kind::sha256:
            return d_sha256;
        default:
            return d_sha512;
    }
}

struct digest_row {
    const char* what;
    kind type;
    std::string text;
    std::vector<std::wstring> names;  // every entry carries the type's empty digest
    int end = 0;                      // what ends the reading
};

TEST(DigestListForms, ReadsTheFormsOtherToolsWrite) {
    const std::string signature =
        "-----BEGIN PGP SIGNATURE-----\n\niQEzBAEBCAAdFiEE\n=x2Zq\n-----END PGP SIGNATURE-----\n";
    const std::vector<digest_row> rows = {
        {"hash comments", kind::md5, "# md5sum output\n" + d_md5 + "  a.txt\n#x\n", {L"a.txt"}},
        {"BSD line, upper-case digest",
         kind::md5,
         "MD5 (a b.txt) = " + upper(d_md5) + "\n",
         {L"a b.txt"}},
        {"BSD line padded as rhash pads it", kind::md5, "MD5   (x) = " + d_md5 + "\n", {L"x"}},
        {"BSD name holding the separator",
         kind::md5,
         "MD5 (odd) = n) = " + d_md5 + "\n",
         {L"odd) = n"}},
        {"escaped name", kind::md5, "\\" + d_md5 + "  a\\\\b\\nc\\rd\n", {L"a\\b\nc\rd"}},
        {"escaped BSD line", kind::md5, "\\MD5 (new\\nline) = " + d_md5 + "\n", {L"new\nline"}},
        {"backslash without the escape mark stays", kind::md5, d_md5 + "  dir\\f\n", {L"dir\\f"}},
        // The first plain line tells whether a marker follows the blank, as
        // md5sum reads it: without one (BSD md5 -r), names are taken whole.
        {"one blank first: names whole, a tab",
         kind::md5,
         d_md5 + " one\n" + d_md5 + "\ttab\n" + d_md5 + "\t*star\n" + d_md5 + "  two\n" + d_md5 +
             " *three\n",
         {L"one", L"tab", L"*star", L" two", L"*three"}},
        {"a marker first: markers throughout",
         kind::md5,
         d_md5 + " *one\n" + d_md5 + "\t*star\n" + d_md5 + "  two\n" + d_md5 + " three\n",
         {L"one", L"star", L"two", L"three"}},
        {"a name of one unit is no marker",
         kind::sha1,
         "SHA1 (bsd) = " + d_sha1 + "\n" + d_sha1 + " *\n" + d_sha1 + " *x\n",
         {L"bsd", L"*", L"*x"}},
        {"byte-order mark", kind::md5, "\xEF\xBB\xBF" + d_md5 + " *bom\r\n", {L"bom"}},
        {"clear-signed list",
         kind::md5,
         "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" + d_md5 + "  a\n- " + d_md5 +
             "  b\n" + signature,
         {L"a", L"b"}},
        {"signature block ends the signed text",
         kind::md5,
         "-----BEGIN PGP SIGNED MESSAGE-----\r\nHash: SHA512\r\n\r\n" + d_md5 + "  a\r\n" +
             signature + d_md5 + "  after\n",
         {L"a"},
         korvane_status::outside_signed_text},
        {"a line in front of the signed message",
         kind::md5,
         "\xEF\xBB\xBF" + d_md5 + "  before\n-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" +
             d_md5 + "  a\n" + signature,
         {},
         korvane_status::outside_signed_text},
        {"comments and blanks around the signed message are no entries",
         kind::md5,
         "# made by hand\n\n-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" + d_md5 +
             "  a\n" + signature + "\n; done\n",
         {L"a"}},
        {"a line of blanks", kind::md5, " \t \r\n" + d_md5 + "  a\n", {L"a"}},
        {"comment inside the signed headers",
         kind::md5,
         "-----BEGIN PGP SIGNED MESSAGE-----\n; note\nHash: SHA1\n\n" + d_md5 + "  a\n",
         {L"a"}},
        {"lines of NUL and CR bytes",
         kind::md5,
         d_md5 + "  a\n" + std::string("\0\0\r\n\0", 5) + "\n" + d_md5 + "  b\n" +
             std::string("\0\0\0", 3),
         {L"a", L"b"}},
        {"signify-signed list",
         kind::sha256,
         signify_head + "SHA256 (a) = " + d_sha256 + "\n" + d_sha256 + "  b\n",
         {L"a", L"b"}},
        {"signify lines, CR LF and a byte-order mark",
         kind::sha512,
         "\xEF\xBB\xBF" + signify_head.substr(0, 38) + "\r\n" + signify_head.substr(39, 100) +
             "\r\n" + d_sha512 + "  a\r\n",
         {L"a"}},
        {"an untrusted comment anywhere else is no signify line",
         kind::md5,
         d_md5 + "  a\n" + signify_head,
         {L"a"},
         korvane_status::invalid_line},
        {"an untrusted comment without its signature line",
         kind::md5,
         "untrusted comment: x\nRWQBAgME\n" + d_md5 + "  a\n",
         {},
         korvane_status::invalid_line},
        {"UTF-16 LE, names in UTF-8",
         kind::md5,
         utf16(u16(d_md5) + u"  \u00e9\U0001F600\r\n" + u16("MD5 (b) = " + d_md5) + u"\r\n"),
         {from_utf16("\xC3\xA9\xF0\x9F\x98\x80", "\xE9?"), L"b"}},
        {"UTF-16 BE, a surrogate without its partner",
         kind::sha1,
         utf16(u"# c\n" + u16(d_sha1) + u" *x\xD800y\n" + u16(d_sha1) + u"  z\xDC00", true),
         {from_utf16("x\xEF\xBF\xBDy", "x?y"), from_utf16("z\xEF\xBF\xBD", "z?")}},
        {"UTF-16, clear-signed",
         kind::sha256,
         utf16(u"-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" + u16(d_sha256) + u"  a\n" +
               u16(signature)),
         {L"a"}},
        {"UTF-16, a byte cut short at the end",
         kind::md5,
         utf16(u16(d_md5) + u"  a\n") + "\x41",
         {L"a"},
         korvane_status::invalid_line},
        {"SHA-1 plain and BSD",
         kind::sha1,
         d_sha1 + "  a\nSHA1 (b) = " + d_sha1 + "\n",
         {L"a", L"b"}},
        {"SHA-256 from sha256sum and rhash --bsd",
         kind::sha256,
         d_sha256 + " *a\nSHA256 (b) = " + d_sha256 + "\nSHA256  (c) = " + upper(d_sha256) + "\n",
         {L"a", L"b", L"c"}},
        {"SHA-512 escaped", kind::sha512, "\\" + d_sha512 + "  x\\ny\n", {L"x\ny"}},
        // Lines no peer writes: the reading stops there.
        {"unknown escape", kind::md5, "\\" + d_md5 + "  a\\tb\n", {}, korvane_status::invalid_line},
        {"escape cut short", kind::md5, "\\" + d_md5 + "  a\\\n", {}, korvane_status::invalid_line},
        {"another algorithm's BSD line",
         kind::md5,
         "SHA1 (a) = " + d_sha1 + "\n",
         {},
         korvane_status::invalid_line},
        {"BSD digest of the wrong length",
         kind::md5,
         "MD5 (a) = " + d_md5 + "0\n",
         {},
         korvane_status::invalid_line},
        {"BSD line without its parenthesis",
         kind::md5,
         "MD5 a) = " + d_md5 + "\n",
         {},
         korvane_status::invalid_line},
        {"a longer digest than the type's",
         kind::md5,
         d_sha1 + "  a\n",
         {},
         korvane_status::invalid_line},
        {"a shorter digest than the type's",
         kind::sha256,
         d_md5 + "  a\n",
         {},
         korvane_status::invalid_line},
    };
    temp_dir dir;
    for (const digest_row& row : rows) {
        SCOPED_TRACE(row.what);
        auto path = dir.write("in.list", row.text);
        auto list = make_list(row.type);
        ASSERT_EQ(list->open(wide(path).c_str()), 0);
        int end = 1;
        auto entries = read_all(*list, static_cast<int>(digest_of(row.type).size() / 2), end);
        EXPECT_EQ(list->close(), 0);
        EXPECT_EQ(end, row.end);
        ASSERT_EQ(entries.size(), row.names.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].name, row.names[i]);
            EXPECT_EQ(entries[i].digest, bytes_of(digest_of(row.type)));
        }
    }
}

// Only the signed text holds entries: lines put before or after it are handed
// back one by one, by the name they would have, and the reading goes on.
TEST(DigestListForms, LinesOutsideTheSignedTextAreNoEntries) {
    temp_dir dir;
    const std::string signature =
        "-----BEGIN PGP SIGNATURE-----\n\niQEzBAEBCAAdFiEE\n-----END PGP SIGNATURE-----\n";
    auto path = dir.write("SHA256SUMS.asc",
                          d_sha256 +
                              "  front\nnot a digest line\n"
                              "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" +
                              d_sha256 + "  a\n- " + d_sha256 + "  b\n" + signature + d_sha256 +
                              "  evil.sh\n-----BEGIN PGP SIGNED MESSAGE-----\n\n" + d_sha256 +
                              "  second\n");
    sha256 list;
    ASSERT_EQ(list.open(wide(path).c_str()), 0);
    std::vector<std::pair<int, std::wstring>> seen;
    for (;;) {
        wchar_t name[128];
        unsigned char digest[32];
        std::uint64_t size = 0;
        int result = list.getNextFile(name, 128, &size, digest);
        if (result <= 0 && result != korvane_status::outside_signed_text) {
            EXPECT_EQ(result, 0);
            break;
        }
        seen.emplace_back(result > 0 ? 1 : result, name);
    }
    EXPECT_EQ(list.close(), 0);
    const int outside = korvane_status::outside_signed_text;
    const std::vector<std::pair<int, std::wstring>> expected = {
        {outside, L"front"},
        {outside, L"not a digest line"},
        {1, L"a"},
        {1, L"b"},
        {outside, L"evil.sh"},
        {outside, L"-----BEGIN PGP SIGNED MESSAGE-----"},
        {outside, L"second"}};
    EXPECT_EQ(seen, expected);
}

// Many reads' worth of UTF-16, so that pairs of surrogates and line ends fall
// on every boundary between reads; such a list is never written back: an
// update is refused, and a verification leaves no tag.
TEST(DigestListForms, Utf16ListsAreReadWholeAndNeverWritten) {
    temp_dir dir;
    std::u16string text;
    const int count = 4000;
    for (int i = 0; i < count; ++i) {
        text += u16(d_md5) + u"  " + u16(std::to_string(i)) + u"\U0001F600\r\n";
    }
    for (bool big_endian : {false, true}) {
        auto path = dir.write("big.md5", utf16(text, big_endian));
        md5 list;
        ASSERT_EQ(list.open(wide(path).c_str()), 0);
        int end = 1;
        auto entries = read_all(list, 16, end);
        EXPECT_EQ(end, 0);
        ASSERT_EQ(entries.size(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; i += 997) {
            EXPECT_EQ(entries[static_cast<std::size_t>(i)].name,
                      from_utf16(std::to_string(i) + "\xF0\x9F\x98\x80", std::to_string(i) + "?"));
        }
        EXPECT_EQ(list.close(), 0);
        md5 again;
        ASSERT_EQ(again.open(wide(path).c_str()), 0);
        EXPECT_EQ(again.beginUpdate(), korvane_status::utf16_list);
        EXPECT_EQ(again.close(), 0);
    }
    const std::string sfv_text = utf16(u"a 00000001\r\n");
    auto path = dir.write("in.sfv", sfv_text);
    sfv list;
    ASSERT_EQ(list.open(wide(path).c_str()), 0);
    int end = 1;
    EXPECT_EQ(read_all(list, 4, end).size(), 1u);
    EXPECT_EQ(list.setPreviouslyVerified(true), 0);
    EXPECT_EQ(list.close(), 0);
    EXPECT_EQ(read_file(path), sfv_text);
}

TEST(DigestListForms, ARejectedEscapedLineIsHandedBackAsWritten) {
    temp_dir dir;
    const std::string line = "\\" + d_md5 + "  a\\\\b\\q";
    auto path = dir.write("bad.md5", line + "\n");
    md5 list;
    ASSERT_EQ(list.open(wide(path).c_str()), 0);
    wchar_t name[128];
    unsigned char digest[16];
    std::uint64_t size = 0;
    EXPECT_EQ(list.getNextFile(name, 128, &size, digest), korvane_status::invalid_line);
    EXPECT_EQ(std::wstring(name), std::wstring(line.begin(), line.end()));
}

TEST(DigestListForms, WritesEveryTypeLikeTheMd5List) {
    temp_dir dir;
    for (kind k : {kind::md5, kind::sha1, kind::sha256, kind::sha512}) {
        const std::string& digest = digest_of(k);
        auto target = dir / "out.list";
        auto list = make_list(k);
        ASSERT_EQ(list->create(wide(target).c_str()), 0);
        auto bytes = bytes_of(digest);
        ASSERT_EQ(list->addFile(L"a b", bytes.data()), 0);
        ASSERT_EQ(list->addFile(L"c\\d", bytes.data()), 0);
        ASSERT_EQ(list->close(), 0);
        std::string text = read_file(target);
        // md5sum reads a ';' line as a comment; sha*sum --strict takes only '#'.
        const char comment = k == kind::md5 ? ';' : '#';
        EXPECT_EQ(text.substr(0, 28), comment + std::string(" Generated by Korvane 3.00 "));
        EXPECT_EQ(text.substr(text.find(std::string(1, comment) + "\r\n") + 3),
                  digest + " *a b\r\n" + digest + " *c\\d\r\n");
        auto again = make_list(k);
        ASSERT_EQ(again->open(wide(target).c_str()), 0);
        int end = 1;
        auto entries = read_all(*again, static_cast<int>(bytes.size()), end);
        EXPECT_EQ(end, 0);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1].name, L"c\\d");
        EXPECT_EQ(entries[1].digest, bytes);
    }
}

struct sfv_row {
    const char* what;
    std::string text;
    std::vector<std::wstring> names;
    std::vector<std::uint32_t> crcs;
    int end = 0;
};

TEST(SfvForms, ReadsTheFormsOtherToolsWrite) {
    const std::vector<sfv_row> rows = {
        {"hash comment", "# made elsewhere\nname 00000001\n", {L"name"}, {1}},
        {"hash name ending in a checksum",
         "#hash.txt 0000000A\n# 12345678\n",
         {L"#hash.txt", L"#"},
         {10, 0x12345678}},
        {"hash comment ending in a short number", "#take 1234567\nx 00000002\n", {L"x"}, {2}},
        {"quoted hash name", "\"#quoted\" 0000000B\n", {L"#quoted"}, {11}},
        {"blanks and carriage returns after the checksum",
         "a.txt 1A2B3C4D \t\r\r\nb 00000001\r\r\n",
         {L"a.txt", L"b"},
         {0x1A2B3C4D, 1}},
        {"a line of blanks", "  \t\r\nc 00000003\n", {L"c"}, {3}},
        {"byte-order mark", "\xEF\xBB\xBF; comment\nbom 00000004\n", {L"bom"}, {4}},
        {"byte-order mark before an entry",
         "\xEF\xBB\xBF"
         "first 00000005\n",
         {L"first"},
         {5}},
        {"short checksum keeps its reading", "old 1F\n", {L"old"}, {0x1F}},
        {"UTF-16 LE",
         utf16(u"; made on Windows\r\na\u00e9 00000001\r\nb 00000002\r\n"),
         {from_utf16("a\xC3\xA9", "a\xE9"), L"b"},
         {1, 2}},
        {"UTF-16 BE", utf16(u"c 00000003\n", true), {L"c"}, {3}},
        {"lines of NUL and CR bytes",
         "a 00000001\r\n" + std::string("\0\r\0\r\n\0\0", 7),
         {L"a"},
         {1}},
        {"tab before the checksum", "no\tspace\n", {}, {}, korvane_status::invalid_line},
    };
    temp_dir dir;
    for (const sfv_row& row : rows) {
        SCOPED_TRACE(row.what);
        auto path = dir.write("in.sfv", row.text);
        sfv list;
        ASSERT_EQ(list.open(wide(path).c_str()), 0);
        int end = 1;
        auto entries = read_all(list, 4, end);
        EXPECT_EQ(list.close(), 0);
        EXPECT_EQ(end, row.end);
        ASSERT_EQ(entries.size(), row.names.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].name, row.names[i]);
            EXPECT_EQ(entries[i].crc, row.crcs[i]);
        }
    }
}

// A checksum field of other than eight hexadecimal digits keeps its reading,
// and the list tells on which physical line it stands: blank lines, comments,
// a comment longer than the line buffer and a byte-order mark count as lines.
TEST(SfvForms, IrregularChecksumFieldsAreNamedByLine) {
    temp_dir dir;
    auto path = dir.write("odd.sfv", "\xEF\xBB\xBF; head\r\n\r\nshort 1234567\r\n; " +
                                         std::string(3000, 'x') +
                                         "\nnine 123456789\n\n\nfine 0000ABCD \r\r\n"
                                         "letters 12345G78\nlower 0000abcd\n0x 0x1234567\n");
    sfv list;
    ASSERT_EQ(list.open(wide(path).c_str()), 0);
    std::vector<std::pair<std::wstring, std::uint64_t>> seen;
    std::vector<std::uint32_t> crcs;
    for (;;) {
        wchar_t name[128];
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
        const int result = list.getNextFile(name, 128, &size, &crc);
        if (result <= 0) {
            EXPECT_EQ(result, 0);
            break;
        }
        seen.emplace_back(name, list.irregularChecksumLine());
        crcs.push_back(crc);
    }
    EXPECT_EQ(list.close(), 0);
    const std::vector<std::pair<std::wstring, std::uint64_t>> expected = {
        {L"short", 3}, {L"nine", 5}, {L"fine", 0}, {L"letters", 9}, {L"lower", 0}, {L"0x", 11}};
    EXPECT_EQ(seen, expected);
    const std::vector<std::uint32_t> values = {0x1234567, 0xFFFFFFFF, 0xABCD,
                                               0x12345,   0xABCD,     0x1234567};
    EXPECT_EQ(crcs, values);
}

TEST(SfvForms, NamesStartingWithHashAreQuotedAndReadBack) {
    temp_dir dir;
    sfv list;
    auto target = dir / "hash.sfv";
    ASSERT_EQ(list.create(wide(target).c_str()), 0);
    std::uint32_t crc = 0xCAFE;
    ASSERT_EQ(list.addFile(L"#notes", &crc), 0);
    ASSERT_EQ(list.addFile(L"plain#", &crc), 0);
    ASSERT_EQ(list.close(), 0);
    std::string text = read_file(target);
    EXPECT_NE(text.find("\r\n\"#notes\" 0000CAFE\r\nplain# 0000CAFE\r\n"), std::string::npos);
    sfv again;
    ASSERT_EQ(again.open(wide(target).c_str()), 0);
    int end = 1;
    auto entries = read_all(again, 4, end);
    EXPECT_EQ(again.close(), 0);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, L"#notes");
    EXPECT_EQ(entries[0].crc, 0xCAFEu);
}

struct detect_row {
    const char* what;
    std::string text;
    int format;
    int status = 0;
};

TEST(ListContent, TheFirstEntryLineNamesTheType) {
    const std::vector<detect_row> rows = {
        {"korvane's MD5 list", "; Generated by Korvane\n;\n" + d_md5 + " *a\n", 1},
        {"korvane's SFV list", "; Generated by Korvane\n;         0  a\na 00000000\r\n", 0},
        {"md5sum text mode", d_md5 + "  a\n", 1},
        {"md5sum escaped", "\\" + d_md5 + "  a\\nb\n", 1},
        {"BSD MD5", "MD5 (a) = " + d_md5 + "\n", 1},
        {"SHA-1", "# sums\n" + d_sha1 + "  a\n", 2},
        {"BSD SHA-256, padded", "SHA256  (a) = " + upper(d_sha256) + "\n", 3},
        {"SHA-512", d_sha512 + " *a\n", 4},
        {"clear-signed SHA-256",
         "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" + d_sha256 + "  a\n", 3},
        {"SFV behind a mark and blanks", "\xEF\xBB\xBF\n  \nname 0A1B2C3D \r\r\n", 0},
        {"SFV name starting with a hash", "#a 0A1B2C3D\n", 0},
        {"only comments", "; a\n# b\n\n", -1},
        {"comment inside the signed headers",
         "-----BEGIN PGP SIGNED MESSAGE-----\n; note\nHash: SHA1\n\n" + d_sha1 + "  a\n", 2},
        {"empty", "", -1},
        {"NUL bytes before the first entry", std::string("\0\0\r\n", 4) + d_sha1 + "  a\n", 2},
        {"UTF-16 SFV", utf16(u"; x\r\na 0A1B2C3D\r\n"), 0},
        {"UTF-16 BE SHA-512", utf16(u"\n" + u16(d_sha512) + u"  a\n", true), 4},
        {"signify-signed SHA-256", signify_head + d_sha256 + "  a\n", 3},
        {"signify-signed BSD SHA-512", signify_head + "SHA512 (a) = " + d_sha512 + "\n", 4},
        {"prose", "Checksums for release 1.0\n" + d_md5 + "  a\n", -1,
         korvane_status::invalid_line},
        {"digest of no known length", "0123456789abcd  a\n", -1, korvane_status::invalid_line},
        // Where digests are equally long, the BSD tag or XXH3_ tells; a plain
        // line is the older type's.
        {"16 plain digits: XXH64", "0123456789abcdef  a\n", 6},
        {"BSD XXH64", "XXH64 (a) = 0123456789abcdef\n", 6},
        {"BSD XXH3", "# c\nXXH3 (a) = 0123456789abcdef\n", 7},
        {"XXH3_ and escaped", "\\XXH3_0123456789abcdef  a\\nb\n", 7},
        {"BSD XXH128", "XXH128 (a) = " + d_md5 + "\n", 8},
        {"XXH64_ read as the prefixed form too", "XXH64_0123456789abcdef  a\n", 6},
        {"64 plain digits: SHA-256", d_sha256 + "  a\n", 3},
        {"BSD BLAKE3", "BLAKE3 (a) = " + d_sha256 + "\n", 5},
        {"BSD BLAKE3-256", "BLAKE3-256 (a) = " + d_sha256 + "\n", 5},
        {"BLAKE3 with a length that is not its own", "BLAKE3-512 (a) = " + d_sha256 + "\n", -1,
         korvane_status::invalid_line},
    };
    temp_dir dir;
    for (const detect_row& row : rows) {
        SCOPED_TRACE(row.what);
        auto path = dir.write("SUMS", row.text);
        int format = 99;
        EXPECT_EQ(container::detectFormat(wide(path).c_str(), &format), row.status);
        EXPECT_EQ(format, row.format);
    }
    int format = 99;
    EXPECT_EQ(container::detectFormat(wide(dir / "missing").c_str(), &format),
              korvane_status::file_not_found);
    EXPECT_EQ(container::detectFormat(nullptr, &format), korvane_status::invalid_arguments);
}

}  // namespace
}  // namespace korvane::testing
