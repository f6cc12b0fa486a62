// The progress line's text: counts, sizes, durations, the rate and time left
// a run's events give, and the cut to the terminal's width.
#include "progress.h"

#include <gtest/gtest.h>

namespace korvane::app {
namespace {

TEST(ProgressText, FiguresReadAsPeopleWriteThem) {
    EXPECT_EQ(count_text(0), L"0");
    EXPECT_EQ(count_text(999), L"999");
    EXPECT_EQ(count_text(1000), L"1,000");
    EXPECT_EQ(count_text(1234567), L"1,234,567");

    EXPECT_EQ(bytes_text(0), L"0 B");
    EXPECT_EQ(bytes_text(1023), L"1023 B");
    EXPECT_EQ(bytes_text(1024), L"1.0 KiB");
    EXPECT_EQ(bytes_text(1288490188), L"1.2 GiB");
    EXPECT_EQ(bytes_text(350ULL << 20), L"350 MiB");
    EXPECT_EQ(bytes_text((10ULL << 20) - 1), L"10 MiB");  // rounded, not cut
    EXPECT_EQ(bytes_text((1ULL << 30) - 1), L"1.0 GiB");  // never "1024 MiB"
    EXPECT_EQ(bytes_text(~0ULL), L"16 EiB");

    EXPECT_EQ(duration_text(7), L"0:07");
    EXPECT_EQ(duration_text(754), L"12:34");
    EXPECT_EQ(duration_text(3723), L"1:02:03");
    EXPECT_EQ(duration_text(100 * 3600), L"100:00:00");
}

TEST(ProgressText, ShortensInTheMiddleWithinTheWidth) {
    EXPECT_EQ(shorten_middle(L"short.bin", 20), L"short.bin");
    const std::wstring cut = shorten_middle(L"photos/2026/holiday/beach-0001.jpg", 20);
    EXPECT_EQ(cut, L"photos/20...0001.jpg");  // the head gets the odd column
    EXPECT_EQ(cut.size(), 20u);
    EXPECT_EQ(shorten_middle(L"abcdefgh", 3), L"...");
    EXPECT_EQ(shorten_middle(L"abcdefgh", 0), L"");
}

TEST(ProgressText, NeverSplitsACharacter) {
    // "é" twice as a POSIX name holds it (two bytes, one unit each), or as
    // one UTF-16 unit on Windows: the cut keeps whole characters either way.
    std::wstring name;
    for (int i = 0; i < 20; ++i) {
        if constexpr (sizeof(wchar_t) == 2) {
            name += L'\u00e9';
        } else {
            name += static_cast<wchar_t>(0xC3);
            name += static_cast<wchar_t>(0xA9);
        }
    }
    const std::wstring cut = shorten_middle(name, 11);
    EXPECT_LE(columns_of(cut), 11u);
    const std::size_t dots = cut.find(L"...");
    ASSERT_NE(dots, std::wstring::npos);
    if constexpr (sizeof(wchar_t) != 2) {
        EXPECT_EQ(dots % 2, 0u);                     // the head ends after a whole pair
        EXPECT_EQ((cut.size() - dots - 3) % 2, 0u);  // the tail starts with one
        EXPECT_EQ(cut[dots + 3], static_cast<wchar_t>(0xC3));
    }
}

TEST(ProgressText, LineFitsTheWidthWhateverTheName) {
    progress_figures f;
    f.files_done = 1234;
    f.files_total = 5000;
    f.bytes_done = 1288490188;
    f.bytes_total = 3ULL << 30;
    f.bytes_known = true;
    f.files_final = false;
    f.rate = 350ULL << 20;
    const std::wstring name(300, L'n');
    f.current = name.c_str();
    f.percent = 45;
    const std::wstring wide = progress_text(f, 200);
    EXPECT_EQ(wide.substr(0, 48), L"1,234 of 5,000+ files  1.2 GiB of 3.0+ GiB  350 ");
    EXPECT_EQ(wide.substr(wide.size() - 4), L" 45%");
    EXPECT_EQ(wide.size(), 200u);
    for (std::size_t columns : {79u, 60u, 40u, 10u, 0u}) {
        EXPECT_LE(progress_text(f, columns).size(), columns);
    }
    // A name with control characters is shown escaped: no cursor moves.
    f.current = L"evil\x1b[2Jname";
    EXPECT_EQ(progress_text(f, 200).find(L'\x1b'), std::wstring::npos);
}

TEST(ProgressMeter, RateAndTimeLeftFromTheLastSeconds) {
    progress_meter meter;
    meter.files_counted(4, 400ULL << 20, true);
    meter.all_counted();
    EXPECT_EQ(meter.figures(0).rate, 0u);  // nothing to compare with yet
    meter.file_done(100ULL << 20);
    progress_figures f = meter.figures(1000);
    EXPECT_EQ(f.rate, 100ULL << 20);
    ASSERT_TRUE(f.time_known);
    EXPECT_EQ(f.seconds_left, 3u);
    // The file in hand counts by its percentage once its size is known.
    meter.file_measured(100ULL << 20);
    meter.file_progress(50);
    f = meter.figures(1500);
    EXPECT_EQ(f.bytes_done, 150ULL << 20);
    EXPECT_EQ(f.percent, 50);
}

TEST(ProgressMeter, UnknownSizesLeaveTheTimeToTheFiles) {
    progress_meter meter;
    meter.files_counted(10, 0, false);
    meter.figures(0);
    for (int i = 0; i < 5; ++i) {
        meter.file_done(1000);
    }
    progress_figures f = meter.figures(1000);
    EXPECT_FALSE(f.bytes_known);
    EXPECT_FALSE(f.time_known);  // the total may still grow
    meter.all_counted();
    f = meter.figures(2000);
    ASSERT_TRUE(f.time_known);
    EXPECT_EQ(f.seconds_left, 2u);  // 5 files in 2 s, 5 to go
    EXPECT_EQ(progress_text(f, 200).find(L" of 0"), std::wstring::npos);
}

}  // namespace
}  // namespace korvane::app
