// The verification run's use of remembered verdicts.
#include <gtest/gtest.h>

#include <korvane/jobs.h>
#include <korvane/md5.h>

#include <cstdint>

#include "report.h"
#include "runs.h"
#include "support/temp_dir.h"

namespace korvane::app {
namespace {

using korvane::testing::temp_dir;

// A list whose one entry does not match its file: a run that hashes the file
// finds the mismatch (exit status 1), a run that trusts a remembered verdict
// does not.
int verify_with(const temp_dir& dir, const verified_query& previously_verified) {
    run_settings settings;
    settings.has_checksum_file = true;
    settings.checksum_file = (dir / "list.md5").wstring();
    settings.has_parent = true;
    settings.parent = dir.path().wstring();
    settings.type = type_from_word(L"md5");
    settings.quiet = true;
    md5 list;
    file_jobs jobs(1, file_jobs::algorithm::md5);
    expansion_state state;
    console_reporter report(settings);
    return verification_run(settings, report, list, jobs, previously_verified, state);
}

TEST(VerificationRun, OnlyAPlainYesSparesAFile) {
    temp_dir dir;
    dir.write("a.txt", "hello");
    dir.write("list.md5", "00000000000000000000000000000000  a.txt\n");
    EXPECT_EQ(verify_with(dir, [](std::int64_t, const wchar_t*) { return 1; }), 0);
    EXPECT_EQ(verify_with(dir, [](std::int64_t, const wchar_t*) { return 0; }), 1);
    // A query that failed says nothing about the file: it is hashed.
    for (int failed : {-1, -3, -5}) {
        EXPECT_EQ(verify_with(dir, [failed](std::int64_t, const wchar_t*) { return failed; }), 1)
            << failed;
    }
}

}  // namespace
}  // namespace korvane::app
