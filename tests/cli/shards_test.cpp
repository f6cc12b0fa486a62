// Shards run one by one and merged: the output, list, tag and exit status of
// one run, or a merge that fails naming the shard.
#include <filesystem>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

class Shards : public cli_test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 40; ++i) {
            dir.write("t/f" + std::to_string(i),
                      std::string(static_cast<std::size_t>(i * 97), 'x'));
            dir.write("t/sub/g" + std::to_string(i), "g" + std::to_string(i));
        }
        std::filesystem::create_directory(dir / "out");
    }
    // Runs shard K of N for each K with `args` before the list.
    void run_shards(int count, const std::vector<std::string>& args) {
        for (int k = 1; k <= count; ++k) {
            std::vector<std::string> argv{
                "--shard=" + std::to_string(k) + "/" + std::to_string(count),
                "--results=out/r" + std::to_string(k)};
            argv.insert(argv.end(), args.begin(), args.end());
            const cli_result r = korvane(argv);
            ASSERT_TRUE(r.status == 0 || r.status == 1) << r.err;
        }
    }
    std::vector<std::string> results(int count) const {
        std::vector<std::string> paths;
        for (int k = 1; k <= count; ++k) {
            paths.push_back("out/r" + std::to_string(k));
        }
        return paths;
    }
    cli_result merge(const std::string& list, int count) {
        std::vector<std::string> argv{"--merge", list};
        for (const std::string& path : results(count)) {
            argv.push_back(path);
        }
        return korvane(argv);
    }
};

TEST_F(Shards, VerificationMergesIntoTheOutputAndStatusOfOneRun) {
    ASSERT_EQ(korvane({"-c", "all.sfv", "-r", "t"}).status, 0);
    dir.write("t/f5", std::string(5 * 97, 'y'));  // damaged
    std::filesystem::remove(dir / "t/sub/g3");    // missing
    const cli_result single = korvane({"-a", "all.sfv"});
    EXPECT_EQ(single.status, 1);
    for (int count : {1, 3, 7, 100}) {
        const std::string list = dir.read("all.sfv");
        run_shards(count, {"-a", "all.sfv"});
        EXPECT_EQ(dir.read("all.sfv"), list) << "a shard wrote the tag";
        const cli_result merged = merge("all.sfv", count);
        EXPECT_EQ(merged.status, single.status) << merged.err;
        EXPECT_EQ(merged.out, single.out) << count;
        EXPECT_FALSE(std::filesystem::exists(dir / "_Verified_"));  // the run failed
        std::filesystem::remove_all(dir / "out");
        std::filesystem::create_directory(dir / "out");
    }
}

TEST_F(Shards, LinesThatAreNoEntriesAreSaidAsOneRunSaysThem) {
    ASSERT_EQ(korvane({"-c", "all.md5", "-r", "t"}).status, 0);
    std::string text = dir.read("all.md5");
    text.insert(text.find('\n', text.size() / 2) + 1, "not a line of any list\n");
    dir.write("all.md5", text);
    // Skipped and counted with the check flags; without them the run stops
    // there, and so does every shard whose entries lie behind it.
    for (const std::string flag : {"-w", "--strict", "-q"}) {
        const cli_result single = korvane({flag, "all.md5"});
        std::vector<std::string> argv{"--merge", flag, "all.md5"};
        for (int k = 1; k <= 4; ++k) {
            const std::string results = "out/r" + std::to_string(k);
            const cli_result shard = korvane(
                {flag, "--shard=" + std::to_string(k) + "/4", "--results=" + results, "all.md5"});
            ASSERT_TRUE(shard.status == 0 || shard.status == 1) << shard.err;
            argv.push_back(results);
        }
        const cli_result merged = korvane(argv);
        EXPECT_EQ(merged.status, single.status) << flag << merged.err;
        EXPECT_EQ(merged.out, single.out) << flag;
        EXPECT_EQ(merged.err, single.err) << flag;
    }
}

TEST_F(Shards, AuditsMergeTheFilesTheListLacksInWalkOrder) {
    ASSERT_EQ(korvane({"-c", "all.md5", "-r", "t"}).status, 0);
    for (const char* name : {"t/new", "t/sub/new", "t/z/deep/new", "t/a"}) {
        dir.write(name, name);
    }
    // Results outside the folder the audit walks, or they would be in it.
    temp_dir elsewhere;
    const cli_result single = korvane({"--audit", "all.md5"});
    EXPECT_EQ(single.status, 1);
    std::vector<std::string> argv{"--merge", "all.md5"};
    for (int k = 1; k <= 3; ++k) {
        const std::string results = (elsewhere / ("r" + std::to_string(k))).string();
        ASSERT_EQ(korvane({"--audit", "--shard=" + std::to_string(k) + "/3", "--results=" + results,
                           "all.md5"})
                      .status,
                  1);
        argv.push_back(results);
    }
    const cli_result merged = korvane(argv);
    EXPECT_EQ(merged.status, single.status) << merged.err;
    EXPECT_EQ(merged.out, single.out);
    EXPECT_NE(merged.out.find("4 files not in list"), std::string::npos) << merged.out;
}

TEST_F(Shards, UpdatesMergeIntoTheListAndLinesOfOneUpdate) {
    ASSERT_EQ(korvane({"-c", "all.sfv", "-r", "t"}).status, 0);
    const std::string original = dir.read("all.sfv");
    let_time_pass();  // the edits below get other times than the records
    dir.write("t/f3", "changed");
    dir.write("t/sub/g30", "changed too");
    std::filesystem::remove(dir / "t/f10");
    std::filesystem::remove(dir / "t/sub/g5");
    dir.write("t/new", "new");
    dir.write("t/sub/deeper/new", "new");
    temp_dir elsewhere;  // results outside the folder the update walks
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"-u"}, std::vector<std::string>{"-u", "--prune"},
          std::vector<std::string>{"-u", "-p", "t/sub"}}) {
        dir.write("all.sfv", original);
        std::vector<std::string> argv = options;
        argv.push_back("all.sfv");
        const cli_result single = korvane(argv);
        const std::string updated = dir.read("all.sfv");
        dir.write("all.sfv", original);
        std::vector<std::string> merge_argv{"--merge"};
        merge_argv.insert(merge_argv.end(), options.begin(), options.end());
        merge_argv.push_back("all.sfv");
        for (int k = 1; k <= 3; ++k) {
            const std::string results = (elsewhere / ("r" + std::to_string(k))).string();
            std::vector<std::string> shard = options;
            shard.insert(shard.end(), {"--shard=" + std::to_string(k) + "/3",
                                       "--results=" + results, "all.sfv"});
            const cli_result r = korvane(shard);
            ASSERT_TRUE(r.status == 0 || r.status == 1) << r.err;
            merge_argv.push_back(results);
        }
        EXPECT_EQ(dir.read("all.sfv"), original) << "a shard wrote the list";
        const cli_result merged = korvane(merge_argv);
        EXPECT_EQ(merged.status, single.status) << options.back() << merged.err;
        EXPECT_EQ(merged.out, single.out) << options.back();
        EXPECT_EQ(merged.err, single.err) << options.back();
        EXPECT_EQ(entry_lines(dir.read("all.sfv")), entry_lines(updated)) << options.back();
    }
    EXPECT_EQ(exit_status(korvane({"-u", "all.sfv", "--shard=1/2", "t/new"}).status),
              exit_status(-8));  // files named: not split
}

TEST_F(Shards, TheMergeWritesTheTagOnceAndOnlyForWhatTheShardsRead) {
    KORVANE_SKIP_ON_WINDOWS("change times under Wine");
    ASSERT_EQ(korvane({"-c", "all.sfv", "-r", "t"}).status, 0);
    let_time_pass();
    write_config("addtag=true\n");
    ASSERT_EQ(korvane({"--shard=1/2", "--results=out/r1", "all.sfv"}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "_Verified_"));  // not a shard's to leave
    // Changed after its shard read it, keeping its size: the merge says Ok,
    // as it was when read, but the tag must not vouch for what came after.
    dir.write("t/f1", std::string(97, 'z'));
    let_time_pass();  // the merge's own time would vouch for the change
    ASSERT_EQ(korvane({"--shard=2/2", "--results=out/r2", "all.sfv"}).status, 0);
    write_config("addtag=true\n");
    const cli_result merged = merge("all.sfv", 2);
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "_Verified_"));  // where one run leaves it
    EXPECT_NE(merged.out.find("t/f1: Ok"), std::string::npos);
    const cli_result next = korvane({"all.sfv"});
    EXPECT_EQ(next.status, 1);
    EXPECT_EQ(next.out.find("t/f1: Previously verified"), std::string::npos) << next.out;
    EXPECT_NE(next.out.find("t/f2: Previously verified Ok"), std::string::npos) << next.out;

    // Shards that resolved the names in another folder earn the merge no tag.
    std::filesystem::create_directory(dir / "copy");
    std::filesystem::copy(dir / "t", dir / "copy/t", std::filesystem::copy_options::recursive);
    const std::string list = dir.read("all.sfv");
    const cli_result elsewhere = merge("all.sfv", 2);  // the results of before, from "."
    EXPECT_EQ(elsewhere.status, exit_status(-13));     // the list changed since: its tag
    ASSERT_EQ(korvane({"-a", "--shard=1/1", "--results=out/r1", "all.sfv"}).status, 1);
    const cli_result moved = korvane({"--merge", "-p", "copy", "all.sfv", "out/r1"});
    EXPECT_NE(moved.err.find("resolved the names in another folder"), std::string::npos)
        << moved.err;
    EXPECT_EQ(dir.read("all.sfv"), list);
}

TEST_F(Shards, AMergeOfShardsThatDoNotMakeOneRunFailsNamingTheShard) {
    ASSERT_EQ(korvane({"-c", "all.md5", "-r", "t"}).status, 0);
    run_shards(3, {"all.md5"});
    const int refused = exit_status(-13);
    auto expect_refusal = [&](const std::vector<std::string>& argv, const std::string& said) {
        const cli_result r = korvane(argv);
        EXPECT_EQ(r.status, refused) << said;
        EXPECT_EQ(r.out, "") << said;
        EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    };
    std::filesystem::copy_file(dir / "out/r1", dir / "out/copy");
    expect_refusal({"--merge", "all.md5", "out/r1", "out/copy", "out/r2", "out/r3"},
                   "shard 1/3 is given twice");
    expect_refusal({"--merge", "all.md5", "out/r1", "out/r3"}, "shard 2/3 is missing");
    // A task killed before its end: its file stops short.
    std::string cut = dir.read("out/r3");
    cut.erase(cut.rfind("end "));
    dir.write("out/r3", cut);
    expect_refusal({"--merge", "all.md5", "out/r1", "out/r2", "out/r3"},
                   "out/r3: shard 3/3 is incomplete");
    run_shards(3, {"all.md5"});
    dir.write("all.md5", dir.read("all.md5") + "# edited\n");
    expect_refusal({"--merge", "all.md5", "out/r1", "out/r2", "out/r3"},
                   "checked another list, or another version of all.md5");
    ASSERT_EQ(korvane({"--shard=1/1", "-t", "md5", "-c", "out/part", "-r", "t"}).status, 0);
    expect_refusal({"--merge", "all.md5", "out/part"}, "another kind of run");
    dir.write("out/junk", "korvane-shard-results 1\nkind verification\nshard 1 1\nbogus\n");
    expect_refusal({"--merge", "all.md5", "out/junk"}, "out/junk: line 4: not shard results");
}

TEST_F(Shards, CreationPartsMergeIntoTheListOfOneRun) {
    for (const std::string& list : {std::string("all.sfv"), std::string("all.md5")}) {
        const cli_result single = korvane({"-T", "-c", list, "-r", "t"});
        ASSERT_EQ(single.status, 0);
        std::vector<std::string> argv{"--merge", "-T", "-c", "merged-" + list};
        for (int k = 1; k <= 4; ++k) {
            const std::string part = "out/" + list + ".part" + std::to_string(k);
            const std::string type = list.substr(list.size() - 3);
            ASSERT_EQ(
                korvane({"--shard=" + std::to_string(k) + "/4", "-t", type, "-c", part, "-r", "t"})
                    .status,
                0);
            argv.push_back(part);
        }
        const cli_result merged = korvane(argv);
        ASSERT_EQ(merged.status, 0) << merged.err;
        EXPECT_EQ(merged.out, single.out);
        EXPECT_EQ(entry_lines(dir.read("merged-" + list)), entry_lines(dir.read(list))) << list;
        EXPECT_EQ(entry_lines(dir.read(list)).size(), list == "all.md5" ? 160u : 80u);
    }
    // A part whose walk found other files: the folders changed meanwhile.
    dir.write("t/new", "n");
    ASSERT_EQ(korvane({"--shard=2/4", "-t", "md5", "-c", "out/all.md5.part2", "-r", "t"}).status,
              0);
    const cli_result r = korvane({"--merge", "-c", "again.md5", "out/all.md5.part1",
                                  "out/all.md5.part2", "out/all.md5.part3", "out/all.md5.part4"});
    EXPECT_EQ(r.status, exit_status(-13));
    EXPECT_NE(r.err.find("found other files than the other shards"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "again.md5"));
}

TEST_F(Shards, AutoTakesTheSchedulersPlaceAndRefusesWhatItCannotTrust) {
    ASSERT_EQ(korvane({"-c", "all.md5", "-r", "t"}).status, 0);
    environment = {{"SLURM_ARRAY_TASK_ID", "12"},   {"SLURM_ARRAY_TASK_MIN", "10"},
                   {"SLURM_ARRAY_TASK_MAX", "13"},  {"SLURM_ARRAY_TASK_STEP", "1"},
                   {"SLURM_ARRAY_TASK_COUNT", "4"}, {"PARALLEL_SEQ", std::nullopt}};
    ASSERT_EQ(korvane({"--shard=auto", "--results=out/r", "all.md5"}).status, 0);
    EXPECT_NE(dir.read("out/r").find("\nshard 3 4\n"), std::string::npos);
    // An explicit shard wins over the environment.
    ASSERT_EQ(korvane({"--shard=1/2", "--results=out/r", "all.md5"}).status, 0);
    EXPECT_NE(dir.read("out/r").find("\nshard 1 2\n"), std::string::npos);
    // GNU parallel inside the Slurm task: the innermost, and said so.
    environment.push_back({"PARALLEL_SEQ", "2"});
    environment.push_back({"KORVANE_SHARDS", "5"});
    cli_result r = korvane({"--shard=auto", "--results=out/r", "all.md5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("shard 2/5 of GNU parallel"), std::string::npos) << r.err;
    environment = {{"SLURM_ARRAY_TASK_ID", "5"},    {"SLURM_ARRAY_TASK_MIN", "1"},
                   {"SLURM_ARRAY_TASK_MAX", "5"},   {"SLURM_ARRAY_TASK_STEP", "1"},
                   {"SLURM_ARRAY_TASK_COUNT", "3"}, {"PARALLEL_SEQ", std::nullopt}};
    r = korvane({"--shard=auto", "all.md5"});
    EXPECT_EQ(r.status, exit_status(-8));
    EXPECT_NE(r.err.find("not an unbroken range"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");  // never a silent whole run
    for (const char* bad : {"--shard=0/4", "--shard=5/4", "--shard=1/0", "--shard=x"}) {
        r = korvane({bad, "all.md5"});
        EXPECT_EQ(r.status, exit_status(-8)) << bad;
        EXPECT_EQ(r.out, "") << bad;
    }
    EXPECT_EQ(korvane({"--results=out/r", "all.md5"}).status, exit_status(-8));
}

}  // namespace
}  // namespace korvane::testing
