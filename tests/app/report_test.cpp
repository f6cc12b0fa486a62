// The events the runs and the expansion report carry what another form of
// output needs and the console lines do not show: both digests as bytes with
// their size, the sizes hashed, the causes, in list order.
#include <gtest/gtest.h>

#include <korvane/hasher.h>
#include <korvane/jobs.h>
#include <korvane/md5.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "report.h"
#include "runs.h"
#include "support/target.h"
#include "support/temp_dir.h"

namespace korvane::app {
namespace {

using korvane::testing::temp_dir;

const std::string md5_abc = "900150983cd24fb0d6963f7d28e17f72";
const std::string md5_123456789 = "25f9e794323b453885f5181f1b624d0b";

std::string hex(const digest_bytes& digest) {
    std::string text(2 * digest.size, '0');
    platform::encode_hex(digest.bytes, digest.size, text.data(), platform::hex_case::lower);
    return text;
}

struct recorded {
    std::wstring path;
    verdict what;
    status cause;
    std::string expected;
    std::string actual;
    std::uint64_t size;
};

// Keeps every event, with copies of what it points to.
class recording_reporter final : public reporter {
  public:
    std::vector<run_facts> runs;
    std::vector<std::wstring> started;
    std::vector<std::wstring> hashed;
    std::vector<recorded> outcomes;
    std::vector<std::pair<walk_issue, bool>> problems;
    std::vector<verification_tally> summaries;

    void run_started(const run_facts& run) override { runs.push_back(run); }
    bool wants_progress() const override { return true; }
    void file_started(const wchar_t* path) override { started.emplace_back(path); }
    void file_progress(const wchar_t*, int) override {}
    void file_hashed(const wchar_t* path) override { hashed.emplace_back(path); }
    void file_done(const file_outcome& o) override {
        outcomes.push_back({o.path, o.what, o.cause, hex(o.expected), hex(o.actual), o.size});
    }
    void irregular_checksum(std::uint64_t) override {}
    void run_halted(const wchar_t*, halt_reason) override { ADD_FAILURE() << "halted"; }
    void walk_problem_met(const walk_problem& problem) override {
        problems.emplace_back(problem.what, problem.file_argument);
    }
    void list_failed(list_step, const wchar_t*, status) override { ADD_FAILURE() << "list"; }
    void scratch_failed(const wchar_t*, status, int) override { ADD_FAILURE() << "scratch"; }
    void unknown_list_format(const wchar_t*) override {}
    void path_too_long() override {}
    void file_not_listed(const wchar_t*) override {}
    void audit_refused(const wchar_t*) override {}
    void entry_updated(const wchar_t*, update_verdict) override {}
    void update_refused(const wchar_t*, status) override {}
    void out_of_memory() override {}
    void improper_line(const wchar_t*, std::uint64_t) override {}
    void nothing_verified(const wchar_t*) override {}
    void summary(const verification_tally& tally, const wchar_t* untrusted) override {
        EXPECT_EQ(untrusted, nullptr);
        summaries.push_back(tally);
    }
};

class Events : public ::testing::Test {
  protected:
    temp_dir dir;
    recording_reporter report;
    run_settings settings;
    expansion_state state;
    md5 list;

    void SetUp() override {
        dir.write("a", "abc");
        dir.write("b", "123456789");
        settings.type = type_from_word(L"md5");
        settings.jobs = 2;
    }
    std::wstring path_of(const char* name) const { return (dir / name).wstring(); }
};

TEST_F(Events, AVerificationReportsBothDigestsOfEveryHashedEntry) {
    dir.write("list.md5",
              md5_abc + "  a\n" + std::string(32, '0') + "  b\n" + md5_abc + "  nothere\n");
    settings.has_checksum_file = true;
    settings.checksum_file = path_of("list.md5");
    settings.has_parent = true;
    settings.parent = dir.path().wstring();
    file_jobs jobs(2, file_jobs::algorithm::md5);
    const auto never = [](std::int64_t, const wchar_t*) { return 0; };
    EXPECT_EQ(verification_run(settings, report, list, jobs, never, state), 1);

    ASSERT_EQ(report.runs.size(), 1u);
    EXPECT_EQ(report.runs[0].kind, run_kind::verification);
    EXPECT_EQ(report.runs[0].type, type_from_word(L"md5"));
    EXPECT_EQ(std::wstring(report.runs[0].list_path), settings.checksum_file);
    // The parent and the list's names, joined as the run joins them.
    const std::wstring parent = settings.parent + L"/";
    const std::vector<std::wstring> order{parent + L"a", parent + L"b", parent + L"nothere"};
    EXPECT_EQ(report.started, order);
    EXPECT_EQ(report.hashed, order);
    ASSERT_EQ(report.outcomes.size(), 3u);
    const recorded& ok = report.outcomes[0];
    EXPECT_EQ(ok.what, verdict::ok);
    EXPECT_EQ(ok.expected, md5_abc);
    EXPECT_EQ(ok.actual, md5_abc);
    const recorded& mismatch = report.outcomes[1];
    EXPECT_EQ(mismatch.what, verdict::mismatch);
    EXPECT_EQ(mismatch.expected, std::string(32, '0'));
    EXPECT_EQ(mismatch.actual, md5_123456789);
    const recorded& missing = report.outcomes[2];
    EXPECT_EQ(missing.what, verdict::file_error);
    EXPECT_EQ(missing.cause, status::file_not_found);
    EXPECT_EQ(missing.actual, "");
    ASSERT_EQ(report.summaries.size(), 1u);
    EXPECT_EQ(report.summaries[0].entries, 3);
    EXPECT_EQ(report.summaries[0].errors, 1);
    EXPECT_EQ(report.summaries[0].missing, 1);
    EXPECT_EQ(report.summaries[0].outside, 0);
}

TEST_F(Events, ACreationReportsEveryEntryWithItsDigestAndSize) {
    const bool links = !korvane::testing::on_windows;  // none can be made there
    if (links) {
        std::filesystem::create_symlink("nowhere", dir / "gone");
    }
    early_hashing early;
    early.attach(state, settings, report);
    for (const char* name : {"a", "gone", "b"}) {
        ASSERT_EQ(expand_argument(path_of(name).c_str(), settings, state, report), status::ok);
    }
    if (links) {
        using problem = std::pair<walk_issue, bool>;
        EXPECT_EQ(report.problems, (std::vector<problem>{{walk_issue::stat_failed, true}}));
    }
    settings.has_target = true;
    settings.creation_target = path_of("out.md5");
    const entry_adder add = [&](const wchar_t* path, const unsigned char* digest, std::uint64_t,
                                std::uint64_t) { return list.addFile(path, digest); };
    ASSERT_EQ(creation_run(settings, report, list, add, state, early), status::ok);

    ASSERT_EQ(report.runs.size(), 1u);
    EXPECT_EQ(report.runs[0].kind, run_kind::creation);
    EXPECT_EQ(std::wstring(report.runs[0].list_path), settings.creation_target);
    ASSERT_EQ(report.outcomes.size(), 2u);
    for (const recorded& added : report.outcomes) {
        EXPECT_EQ(added.what, verdict::added);
        EXPECT_EQ(added.cause, status::ok);
    }
    EXPECT_EQ(report.outcomes[0].path, path_of("a"));
    EXPECT_EQ(report.outcomes[0].actual, md5_abc);
    EXPECT_EQ(report.outcomes[0].size, 3u);
    EXPECT_EQ(report.outcomes[1].path, path_of("b"));
    EXPECT_EQ(report.outcomes[1].actual, md5_123456789);
    EXPECT_EQ(report.outcomes[1].size, 9u);
    EXPECT_TRUE(report.summaries.empty());
}

}  // namespace
}  // namespace korvane::app
