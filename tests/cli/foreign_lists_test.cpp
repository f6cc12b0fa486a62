// Lists written elsewhere, verified end to end: the type a list's name or
// content gives, the SHA list types, Windows folder names and the SFV mismatch
// line. Every list here is written by hand in the forms other tools use.
#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

const std::string sha1_abc = "a9993e364706816aba3e25717850c26c9cd0d89d";
const std::string sha256_abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string sha512_abc =
    "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
    "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f";

// ASCII `text` as UTF-16 LE with its byte-order mark.
std::string utf16_le(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

class ForeignLists : public cli_test {
  protected:
    void SetUp() override { dir.write("a.txt", "abc"); }
    static constexpr const char* all_ok = "1 files checked\nAll files Ok\n";
};

TEST_F(ForeignLists, NamesWithoutAKnownExtensionAreJudgedByContent) {
    struct row {
        const char* list;
        std::string text;
    };
    const row rows[] = {
        {"MD5SUMS", md5_abc + "  a.txt\n"},
        {"md5sums.txt", "# made by hand\nMD5 (a.txt) = " + md5_abc + "\n"},
        {"x.md5.txt", "\\" + md5_abc + "  a.txt\n"},
        {"x.md5sum", md5_abc + " a.txt\n"},
        {"crc.txt", "; from elsewhere\r\na.txt " + crc_abc + "\r\n"},
        {"SHA1SUMS", sha1_abc + " *a.txt\n"},
        {"release.sha256", "SHA256 (a.txt) = " + sha256_abc + "\n"},
        {"sums.txt", "\xEF\xBB\xBF" + sha256_abc + "  a.txt\n"},
        {"x.sha512sum", sha512_abc + "  a.txt\n"},
        {"SHA512.txt", "SHA512 (a.txt) = " + sha512_abc + "\n"},
        {"signify.txt",
         "untrusted comment: verify with "
         "release."
         "pub\nRWQBAgMEBQYHCAkKCwwNDg8QERITFBUWFxgZGhscHR4fICEiIyQlJicoKSorLC0uLzAxMjM0NTY3ODk6Ozw9"
         "Pj9AQUJDREVGR0g=\nSHA256 (a.txt) = " +
             sha256_abc + "\n"},
        {"utf16.txt", utf16_le("; x\r\na.txt " + crc_abc + "\r\n")},
        {"SHA1SUMS.utf16", utf16_le(sha1_abc + " *a.txt\r\n")},
        {"signed.asc", "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" + sha256_abc +
                           "  a.txt\n-----BEGIN PGP SIGNATURE-----\n\nwsBzBAEBCAAnBQJ\n=AbCd\n"
                           "-----END PGP SIGNATURE-----\n"},
    };
    for (const row& r : rows) {
        dir.write(r.list, r.text);
        auto result = korvane({"-q", r.list});
        EXPECT_EQ(result.status, 0) << r.list << "\n" << result.out << result.err;
        EXPECT_EQ(result.out, all_ok) << r.list;
        EXPECT_EQ(result.err, "") << r.list;
    }
}

// A signature vouches only for the text between its framing lines: lines that
// someone put in front of it or behind it are shown and fail the run, and the
// files they name are never hashed.
TEST_F(ForeignLists, OnlyTheSignedTextOfASignedListCounts) {
    dir.write("evil.sh", "evil");
    const std::string evil_line =
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855  evil.sh\n";
    const std::string signed_list = "-----BEGIN PGP SIGNED MESSAGE-----\nHash: SHA256\n\n" +
                                    sha256_abc +
                                    "  a.txt\n-----BEGIN PGP SIGNATURE-----\n\nwsBzBAEBCAAnBQJ\n"
                                    "-----END PGP SIGNATURE-----\n";
    dir.write("appended.asc", signed_list + evil_line);
    dir.write("prepended.asc", evil_line + signed_list);
    const std::string ok_line = "a.txt: 100% complete\ra.txt: Ok                   \n";
    const std::string outside_line = "evil.sh: Outside the signed text\n";
    const std::string summary = "1 files checked\n1 lines outside the signed text\n";
    auto appended = korvane({"appended.asc"});
    EXPECT_EQ(appended.status, 1);
    EXPECT_EQ(appended.out, ok_line + outside_line + summary);
    auto prepended = korvane({"prepended.asc"});
    EXPECT_EQ(prepended.status, 1);
    EXPECT_EQ(prepended.out, outside_line + ok_line + summary);
    // Quiet runs still show them: they are problems.
    auto quiet = korvane({"-q", "appended.asc"});
    EXPECT_EQ(quiet.out,
              "evil.sh: Outside the signed text\n1 files checked\n"
              "1 lines outside the signed text\n");
    // An unsigned list is read whole, as before.
    dir.write("plain.sha256", evil_line + sha256_abc + "  a.txt\n");
    auto plain = korvane({"-q", "plain.sha256"});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.out,
              "evil.sh: hash mismatch: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca"
              "495991b7852b855 != b5c1fb2efc6d6b4674c2fdcc48ce01b43a3b7c03763c0c3355de00"
              "99ee0f8c73\n2 files checked\n1 errors detected\n");
}

TEST_F(ForeignLists, ContentOfNoKnownTypeIsRefused) {
    dir.write("notes.txt", "Checksums of release 1.0\n" + md5_abc + "  a.txt\n");
    auto result = korvane({"notes.txt"});
    EXPECT_EQ(result.status, exit_status(-6));
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "notes.txt: unknown checksum list format\n");
    // A list without entries stays what it was: an SFV list with nothing to check.
    dir.write("empty.txt", "; nothing here\n");
    auto empty = korvane({"-q", "empty.txt"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "0 files checked\nAll files Ok\n");
}

TEST_F(ForeignLists, TheTypeOptionAlwaysWins) {
    dir.write("MD5SUMS", "a.txt " + crc_abc + "\n");
    auto as_sfv = korvane({"-q", "-t", "sfv", "MD5SUMS"});
    EXPECT_EQ(as_sfv.status, 0) << as_sfv.out;
    dir.write("list.sfv", md5_abc + "  a.txt\n");
    auto as_md5 = korvane({"-q", "--type=MD5", "list.sfv"});
    EXPECT_EQ(as_md5.status, 0) << as_md5.out;
    // The extension wins over the content: an MD5 line in an SFV list is an entry
    // named by the digest and the name.
    auto by_name = korvane({"-q", "list.sfv"});
    EXPECT_EQ(by_name.status, 1);
}

TEST_F(ForeignLists, ShaListsAreCreatedLikeMd5Lists) {
    struct row {
        const char* option;
        const char* target;
        std::string digest;
    };
    const row rows[] = {
        {nullptr, "out.sha1", sha1_abc},
        {nullptr, "SHA256SUMS", sha256_abc},
        {nullptr, "out.SHA512", sha512_abc},
        {"sha256", "plain.txt", sha256_abc},
    };
    for (const row& r : rows) {
        std::vector<std::string> args{"-q"};
        if (r.option != nullptr) {
            args.insert(args.end(), {"-t", r.option});
        }
        args.insert(args.end(), {"-c", r.target, "a.txt"});
        ASSERT_EQ(korvane(args).status, 0) << r.target;
        std::string text = read_file(dir / r.target);
        // '#' header lines, which sha*sum --strict takes for comments.
        EXPECT_EQ(text.substr(0, 23), "# Generated by Korvane ") << r.target;
        EXPECT_EQ(text.substr(text.find("\r\n#\r\n") + 5), r.digest + " *a.txt\r\n") << r.target;
        auto check = korvane({"-q", r.target});
        EXPECT_EQ(check.out, all_ok) << r.target;
    }
    dir.write("bad.sha1", std::string(40, '0') + " *a.txt\n");
    auto bad = korvane({"-q", "bad.sha1"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "a.txt: hash mismatch: " + std::string(40, '0') + " != " + sha1_abc +
                           "\n1 files checked\n1 errors detected\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "_Verified_"));
}

TEST_F(ForeignLists, WindowsFoldersAreFoundWithSlashes) {
    KORVANE_SKIP_ON_WINDOWS("a backslash is a separator there");
    dir.write("sub/deep/c", "123456789");
    dir.write("list.sfv", "sub\\deep\\c " + crc_123456789 + "\r\nsub\\gone 00000000\r\n");
    auto result = korvane({"list.sfv"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("sub/deep/c: Ok"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("sub\\gone: File error"), std::string::npos) << result.out;
    // A file whose own name holds the backslash comes first.
    dir.write("sub\\deep\\c", "abc");
    dir.write("again.sfv", "sub\\deep\\c " + crc_abc + "\n");
    auto own = korvane({"again.sfv"});
    EXPECT_EQ(own.status, 0) << own.out;
    EXPECT_NE(own.out.find("sub\\deep\\c: Ok"), std::string::npos) << own.out;
    // The remembered result belongs to the path that was checked.
    dir.write("tagged.sfv", "sub\\deep\\c " + crc_abc + "\nsub\\deep/c " + crc_123456789 + "\n");
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "tagged.sfv"}).status, 0);
    auto second = korvane({"tagged.sfv"});
    EXPECT_NE(second.out.find("sub/deep/c: Previously verified Ok"), std::string::npos)
        << second.out;
}

TEST_F(ForeignLists, SfvHashCommentsHashNamesAndStrayLineEnds) {
    dir.write("#1.txt", "123456789");
    dir.write("list.sfv", "\xEF\xBB\xBF# made on another system\r\r\n#1.txt " + crc_123456789 +
                              " \t\r\r\na.txt " + crc_abc + "\r\r\n");
    auto result = korvane({"-q", "list.sfv"});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out, "2 files checked\nAll files Ok\n");
    // korvane's own list of such a name reads back whole.
    ASSERT_EQ(korvane({"-q", "-c", "ours.sfv", "#1.txt", "a.txt"}).status, 0);
    EXPECT_EQ(entry_lines(read_file(dir / "ours.sfv"))[0], "\"#1.txt\" " + crc_123456789);
    auto again = korvane({"-q", "ours.sfv"});
    EXPECT_EQ(again.out, "2 files checked\nAll files Ok\n");
}

// Zeros and carriage returns at a list's end, as some copies leave them, end
// no run; a checksum that is not eight digits is read as ever, with a warning
// that names its line, also in a quiet run.
TEST_F(ForeignLists, SfvPaddingAndIrregularChecksums) {
    dir.write("padded.sfv", "a.txt " + crc_abc + "\r\n" + std::string("\0\0\r\n\0\0", 6));
    auto padded = korvane({"-q", "padded.sfv"});
    EXPECT_EQ(padded.status, 0) << padded.out << padded.err;
    EXPECT_EQ(padded.out, all_ok);
    dir.write("odd.sfv", "; from elsewhere\n\na.txt 0" + crc_abc + "\na.txt " + crc_abc +
                             "\na.txt " + crc_abc.substr(1) + "\n");
    auto odd = korvane({"-q", "odd.sfv"});
    EXPECT_EQ(odd.status, 1);
    EXPECT_EQ(odd.out, "a.txt: hash mismatch: 0" + crc_abc.substr(1) + " != " + crc_abc +
                           "\n3 files checked\n1 errors detected\n");
    EXPECT_EQ(odd.err,
              "odd.sfv: line 3: checksum field is not 8 hexadecimal digits\n"
              "odd.sfv: line 5: checksum field is not 8 hexadecimal digits\n");
}

// A list saved as UTF-16 is verified with its names in UTF-8, and left as it
// is: an update is refused, a verification writes no tag into it.
TEST_F(ForeignLists, Utf16ListsAreReadNeverWritten) {
    dir.write("\xC3\xA9.txt", "abc");
    const std::string sfv = "\xFF\xFE" + std::string("\xE9\0.\0t\0x\0t\0 \0", 12);
    std::string text = sfv;
    for (char c : crc_abc + "\r\n") {
        text += c;
        text += '\0';
    }
    dir.write("list.sfv", text);
    auto verified = korvane({"list.sfv"});
    EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
    EXPECT_NE(verified.out.find("\xC3\xA9.txt: Ok"), std::string::npos) << verified.out;
    EXPECT_EQ(read_file(dir / "list.sfv"), text);
    dir.write("new.txt", "new");
    auto updated = korvane({"-u", "list.sfv"});
    EXPECT_NE(updated.status, 0);
    EXPECT_EQ(updated.err, "list.sfv: UTF-16 list, not updated\n");
    EXPECT_EQ(read_file(dir / "list.sfv"), text);
}

TEST_F(ForeignLists, SfvMismatchShowsBothChecksumsAsTheListWritesThem) {
    dir.write("list.sfv", "a.txt 12345678\n");
    auto result = korvane({"-q", "list.sfv"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "a.txt: hash mismatch: 12345678 != " + crc_abc +
                              "\n1 files checked\n1 errors detected\n");
}

}  // namespace
}  // namespace korvane::testing
