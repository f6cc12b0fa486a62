// Status queries made ahead on helper threads: every answer is the one for
// its own file, given back in the order asked, however many helpers race.
#include "looks.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace korvane::app {
namespace {

TEST(LookAhead, AnswersEachFileInTheOrderAskedWithAnyNumberOfHelpers) {
    korvane::testing::temp_dir dir;
    constexpr int files = 3000;  // several times the looks in flight
    for (int i = 0; i < files; i += 3) {
        dir.write("f" + std::to_string(i), std::string(static_cast<std::size_t>(i), 'x'));
    }
    for (int helpers : {0, 1, 3}) {
        look_ahead looks(helpers);
        int asked = 0;
        int taken = 0;
        auto take = [&] {
            const file_look& look = looks.oldest();
            ASSERT_EQ(look.position, static_cast<std::uint64_t>(taken)) << helpers;
            if (taken % 3 == 0) {
                EXPECT_EQ(look.error, 0) << taken;
                EXPECT_TRUE(look.info.is_regular) << taken;
                EXPECT_EQ(look.info.size, static_cast<std::uint64_t>(taken)) << taken;
            } else {
                EXPECT_EQ(look.error, platform::error_not_found) << taken;
            }
            looks.pop();
            ++taken;
        };
        while (asked < files) {
            if (!looks.has_room()) {
                take();
                continue;
            }
            file_look& look = looks.next();
            look.path = (dir / ("f" + std::to_string(asked))).wstring();
            look.position = static_cast<std::uint64_t>(asked++);
            looks.submit();
        }
        while (!looks.empty()) {
            take();
        }
        EXPECT_EQ(taken, files);
    }
}

// A run that ends early leaves looks asked and never taken: the helpers stop
// without touching what goes away.
TEST(LookAhead, GoesAwayWithLooksStillInFlight) {
    korvane::testing::temp_dir dir;
    dir.write("a", "abc");
    for (int round = 0; round < 20; ++round) {
        look_ahead looks(2);
        for (int i = 0; i < 200 && looks.has_room(); ++i) {
            looks.next().path = (dir / "a").wstring();
            looks.submit();
        }
        EXPECT_EQ(looks.oldest().info.size, 3U);
    }
}

}  // namespace
}  // namespace korvane::app
