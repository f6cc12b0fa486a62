// How many files a run keeps in flight.
#include <gtest/gtest.h>

#include <korvane/jobs.h>

#include <string>

#include "jobs.h"

namespace korvane::app {
namespace {

TEST(ParseJobs, TakesOnlyPlainCountsFromOneToTheLimit) {
    EXPECT_EQ(parse_jobs("1"), 1);
    EXPECT_EQ(parse_jobs(L"4"), 4);
    const int most = file_jobs::max_jobs;
    EXPECT_EQ(parse_jobs("064"), most);
    EXPECT_EQ(parse_jobs("0"), 0);
    EXPECT_EQ(parse_jobs(std::to_string(file_jobs::max_jobs + 1).c_str()), 0);
    EXPECT_EQ(parse_jobs("99999999999999999999"), 0);
    EXPECT_EQ(parse_jobs(""), 0);
    EXPECT_EQ(parse_jobs(static_cast<const char*>(nullptr)), 0);
    EXPECT_EQ(parse_jobs("2x"), 0);
    EXPECT_EQ(parse_jobs(L"-1"), 0);
    EXPECT_EQ(parse_jobs(L" 2"), 0);
}

}  // namespace
}  // namespace korvane::app
