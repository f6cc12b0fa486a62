// Inputs found by fuzzing the checksum-file formats, kept as cases of their own.
#include <korvane/md5.h>
#include <korvane/sfv.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formats/formats_test.h"
#include "support/temp_dir.h"

namespace korvane::testing {
namespace {

// Names that the reading rules would change if written bare (a leading quote
// or ';', a trailing blank) are written in quotes and read back whole; other
// names stay bare, as other tools expect them.
TEST(SfvFuzzRegressions, EveryNameWrittenReadsBackWhole) {
    temp_dir dir;
    const std::vector<std::wstring> names = {
        L" ",          L"trailing space ",
        L"tab\t",      L"cr\r",
        L"\"quoted\"", L"\"",
        L"\"\"",       L";semi",
        L";K2-4711",   L"plain name.txt",
        L" leading",   L"quo\"te.txt",
        L"end\"",      L"",
    };
    const std::uint32_t crc = 0x01020304;
    sfv list;
    ASSERT_EQ(list.create(wide(dir / "list.sfv").c_str()), 0);
    for (const auto& name : names) {
        ASSERT_EQ(list.addFile(name.c_str(), &crc), 0);
    }
    ASSERT_EQ(list.close(), 0);

    std::string text = read_file(dir / "list.sfv");
    EXPECT_NE(text.find("\r\nplain name.txt 01020304\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\"trailing space \" 01020304\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\n\";semi\" 01020304\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nquo\"te.txt 01020304\r\n"), std::string::npos) << text;

    ASSERT_EQ(list.open(wide(dir / "list.sfv").c_str()), 0);
    int end = 1;
    auto entries = read_all(list, 4, end);
    EXPECT_EQ(end, 0);
    ASSERT_EQ(entries.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(entries[i].name, names[i]) << "entry " << i;
        EXPECT_EQ(entries[i].crc, crc);
    }
    list.close();
}

// A zero byte cannot be part of a file name: delivered, the name would end at
// it and verification would check another file.
TEST(SfvFuzzRegressions, ANameWithAZeroByteIsAnInvalidLine) {
    temp_dir dir;
    write_file(dir / "list.sfv", std::string("a.txt\0x 12345678\r\n", 19));
    write_file(dir / "list.md5", std::string(32, '0') + std::string(" *a.txt\0x\n", 11));
    sfv sfv_list;
    md5 md5_list;
    for (container* list : {static_cast<container*>(&sfv_list), static_cast<container*>(&md5_list)}) {
        const char* file = list == &sfv_list ? "list.sfv" : "list.md5";
        ASSERT_EQ(list->open(wide(dir / file).c_str()), 0);
        wchar_t name[264];
        std::uint64_t size = 0;
        unsigned char digest[16];
        EXPECT_EQ(list->getNextFile(name, 264, &size, digest), -6) << file;
        list->close();
    }
}

}  // namespace
}  // namespace korvane::testing
