// Attacks and faults around the files korvane writes: killed and interrupted
// runs, planted links and names, lists and folders of other users.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <korvane/sha.h>

#include "cli_helpers.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class Safety : public cli_test {
  protected:
    void need_unprivileged_user() {
        if (!can_drop_privileges()) {
            GTEST_SKIP() << "needs root and setpriv to run korvane unprivileged";
        }
        as_nobody = true;
    }
    // Runs a command as the user running the tests (root where the tests
    // drop privileges for korvane).
    cli_result as_tester(const std::vector<std::string>& argv) {
        bool saved = as_nobody;
        as_nobody = false;
        auto r = run(argv);
        as_nobody = saved;
        return r;
    }
    // Names of the files in the test folder that look like temporary files.
    lines leftovers() const {
        lines found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            if (entry.path().extension() == ".tmp") {
                found.push_back(entry.path().filename().string());
            }
        }
        return found;
    }
};

// An old tag trusting every entry, with a time far back.
std::string trusting_tag(int entries) {
    std::string tag = ";K2-4711\r\n;K2-AQAAAAAAAAA=\r\n";
    for (int done = 0; done < entries / 8 + 1; done += 48) {
        tag += ";K2-" + std::string(64, '/') + "\r\n";
    }
    return tag;
}

TEST_F(Safety, KilledTagRewritesLeaveEveryEntryAndTrustNothingStale) {
    KORVANE_SKIP_ON_WINDOWS("kills a child at random moments through timeout(1)");
    write_config("signature=4711\n");
    constexpr int files = 60;
    std::string entries;
    int bad = 0;
    for (int i = 0; i < files; ++i) {
        std::string name = "f" + std::to_string(i);
        // Every third file changed since its entry was written.
        dir.write(name, i % 3 == 0 ? "abd" : "abc");
        bad += i % 3 == 0 ? 1 : 0;
        entries += name + " " + crc_abc + "\r\n";
    }
    // A long list makes the rewrite a large part of each run.
    std::string padding;
    while (padding.size() < 256 * 1024) {
        padding += "; " + std::string(100, 'p') + "\r\n";
    }
    const std::string in_place = padding + entries + trusting_tag(files);
    const std::string moving = in_place + "late " + crc_abc + "\r\n";
    dir.write("late", "abc");
    let_time_pass();

    // How long a whole run takes here, to spread the kills over it.
    dir.write("list.sfv", in_place);
    auto started = std::chrono::steady_clock::now();
    auto first = korvane({"-q", "list.sfv"});
    ASSERT_EQ(count_of(first.out, "hash mismatch"), static_cast<std::size_t>(bad));
    double full_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();

    std::mt19937 random(20261208);
    std::uniform_real_distribution<double> moment(0.0, full_ms * 1.3);
    for (int trial = 0; trial < 200; ++trial) {
        const std::string& original = trial % 2 == 0 ? in_place : moving;
        dir.write("list.sfv", original);
        char delay[32];
        std::snprintf(delay, sizeof delay, "%.4f", moment(random) / 1000.0);
        run({"timeout", "--foreground", "-s", "KILL", delay, KORVANE_BINARY, "-q", "list.sfv"});

        const std::string after = dir.read("list.sfv");
        ASSERT_EQ(entry_lines(after), entry_lines(original))
            << "trial " << trial << " at " << delay;
        if (after == original) {
            continue;  // stopped before the rewrite: the list trusts nothing, as the first run
                       // showed
        }
        auto check = korvane({"-q", "list.sfv"});
        ASSERT_EQ(count_of(check.out, "hash mismatch"), static_cast<std::size_t>(bad))
            << "trial " << trial << " killed at " << delay << "s:\n"
            << check.out;
        for (const auto& name : leftovers()) {
            std::filesystem::remove(dir / name);  // a kill leaves what it leaves
        }
    }
}

// A creation killed at any moment, the join of its scratch files into the
// list included: the old list or the complete new one. A termination request
// waits for the list to be whole and leaves no temporary file; a kill that
// cannot be waited for leaves at most the list's own temporary file.
TEST_F(Safety, KilledCreationsLeaveTheOldListOrTheWholeNewOne) {
    KORVANE_SKIP_ON_WINDOWS("kills a child at random moments through timeout(1)");
    constexpr int files = 3000;
    lines expected;
    for (int i = 0; i < files; ++i) {
        // Long names make a list of over a mebibyte, so the join takes a while.
        const std::string name = "tree/" + std::string(200, 'f') + std::to_string(10000 + i);
        dir.write(name, "abc");
        expected.push_back(name + " " + crc_abc);
    }
    const std::string old_list = "; old\r\nold " + crc_abc + "\r\n";
    dir.write("out.sfv", old_list);
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(korvane({"-q", "-r", "-c", "out.sfv", "tree"}).status, 0);
    const double full_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    ASSERT_EQ(entry_lines(dir.read("out.sfv")), expected);

    std::mt19937 random(20261210);
    // Most kills fall in the second half of the run, where the list is joined.
    std::uniform_real_distribution<double> moment(full_ms * 0.4, full_ms * 1.2);
    int replaced = 0;
    for (int trial = 0; trial < 40; ++trial) {
        dir.write("out.sfv", old_list);
        const bool term = trial % 2 == 0;
        char delay[32];
        std::snprintf(delay, sizeof delay, "%.4f", moment(random) / 1000.0);
        run({"timeout", "--foreground", "-s", term ? "TERM" : "KILL", delay, KORVANE_BINARY, "-q",
             "-r", "-c", "out.sfv", "tree"});
        const std::string after = dir.read("out.sfv");
        if (after != old_list) {
            ASSERT_EQ(entry_lines(after), expected) << "trial " << trial << " at " << delay;
            ++replaced;
        }
        if (term) {
            EXPECT_EQ(leftovers(), lines{}) << "trial " << trial << " at " << delay;
        }
        for (const auto& name : leftovers()) {
            std::filesystem::remove(dir / name);  // a kill leaves what it leaves
        }
    }
    std::printf("%d of 40 killed runs had replaced the list\n", replaced);
}

TEST_F(Safety, KilledUpdatesLeaveTheOldListOrTheWholeNewOne) {
    KORVANE_SKIP_ON_WINDOWS("kills a child at random moments through timeout(1)");
    constexpr int files = 3000;
    std::string old_list = "; kept as it stands\r\n";
    lines expected;
    for (int i = 0; i < files; ++i) {
        const std::string name = std::string(200, 'f') + std::to_string(10000 + i);
        dir.write("tree/" + name, "abc");
        // The first half listed (without records, so kept unread), the rest new.
        if (i < files / 2) {
            old_list += name + " " + crc_abc + "\r\n";
        }
        expected.push_back(name + " " + crc_abc);
    }
    dir.write("out.sfv", old_list);
    const std::vector<std::string> update = {KORVANE_BINARY, "-q", "-u", "-p", "tree", "out.sfv"};
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(run(update).status, 0);
    const double full_ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    ASSERT_EQ(entry_lines(dir.read("out.sfv")), expected);

    std::mt19937 random(20261211);
    // Half anywhere in the run, half around its end, where the list is rewritten.
    std::uniform_real_distribution<double> anywhere(0.0, full_ms * 1.1);
    std::uniform_real_distribution<double> rewrite(full_ms * 0.7, full_ms * 1.1);
    int replaced = 0;
    for (int trial = 0; trial < 200; ++trial) {
        dir.write("out.sfv", old_list);
        const bool term = trial % 4 == 0;
        char delay[32];
        std::snprintf(delay, sizeof delay, "%.4f",
                      (trial % 2 == 0 ? anywhere(random) : rewrite(random)) / 1000.0);
        std::vector<std::string> argv = {"timeout", "--foreground", "-s", term ? "TERM" : "KILL",
                                         delay};
        argv.insert(argv.end(), update.begin(), update.end());
        const lines left_before = leftovers();
        run(argv);
        const std::string after = dir.read("out.sfv");
        if (after != old_list) {
            ASSERT_EQ(entry_lines(after), expected) << "trial " << trial << " at " << delay;
            ++replaced;
        }
        if (term) {
            // A terminated update waits until its list is in place or gone.
            EXPECT_EQ(leftovers(), left_before) << "trial " << trial << " at " << delay;
        }
        // What a kill leaves stays: the next updates must leave it out.
    }
    std::printf("%d of 200 killed updates had replaced the list; %zu temporary files left\n",
                replaced, leftovers().size());
    dir.write("out.sfv", old_list);
    ASSERT_EQ(run(update).status, 0);
    EXPECT_EQ(entry_lines(dir.read("out.sfv")), expected) << "no temporary file is added";
}

TEST_F(Safety, PlantedTemporaryNamesAndLinksAreNeverUsed) {
    KORVANE_SKIP_ON_WINDOWS("symbolic links need privileges on Windows");
    dir.write("a", "abc");
    dir.write("victim", "keep");
    // Links at every name an older, predictable scheme would have drawn.
    for (int n = 0; n < 200; ++n) {
        std::filesystem::create_symlink(dir / "victim",
                                        dir / ("out.sfv." + std::to_string(n) + ".tmp"));
    }
    auto r = korvane({"-q", "-c", "out.sfv", "a"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(entry_lines(dir.read("out.sfv")), (lines{"a " + crc_abc}));
    EXPECT_EQ(dir.read("victim"), "keep");
    EXPECT_EQ(leftovers().size(), 200U);
}

TEST_F(Safety, InterruptedCreationLeavesNoTemporaryFile) {
    KORVANE_SKIP_ON_WINDOWS("POSIX signals and file-size limits");
    const std::string old_list = "a " + crc_abc + "\r\n";
    dir.write("a", "abc");
    // A large sparse file keeps the run hashing while the signal comes.
    dir.write("big", "");
    std::filesystem::resize_file(dir / "big", 1ULL << 30);
    for (const char* signal : {"INT", "TERM", "HUP"}) {
        dir.write("out.sfv", old_list);
        run({"timeout", "--foreground", "-s", signal, "0.15", KORVANE_BINARY, "-q", "-c", "out.sfv",
             "a", "big"});
        EXPECT_EQ(dir.read("out.sfv"), old_list) << signal;
        EXPECT_EQ(leftovers(), lines{}) << signal;
    }
    // The default action of SIGXFSZ ends the process at the write past the
    // limit (4 KiB here): the temporary file is removed before it takes effect.
    std::string names;
    for (int i = 0; i < 100; ++i) {
        std::string name = std::string(100, 'f') + std::to_string(i);
        dir.write("many/" + name, "abc");
    }
    dir.write("out.sfv", old_list);
    auto r =
        run({"sh", "-c",
             "(trap - XFSZ; ulimit -f 8; exec \"$0\" -q -r -c out.sfv many); echo \"ended $?\"",
             KORVANE_BINARY});
    EXPECT_EQ(r.out, "ended 153\n") << "ended by SIGXFSZ";
    EXPECT_EQ(dir.read("out.sfv"), old_list);
    EXPECT_EQ(leftovers(), lines{});
}

TEST_F(Safety, EveryTerminatingSignalDuringTheListWriteCleansUp) {
    KORVANE_SKIP_ON_WINDOWS("POSIX signals");
#ifndef _WIN32
    const std::string old_list = "a " + crc_abc + "\r\n";
    // Long names make a list of megabytes, whose writing and syncing takes
    // long enough to stop the run in the middle of it.
    for (int i = 0; i < 20000; ++i) {
        dir.write("many/" + std::string(150, 'n') + std::to_string(i), "");
    }
    // Stopped once its temporary file holds bytes, the run gets the signal
    // and goes on; "caught" says the temporary file was still there then.
    const std::string script =
        "\"$0\" -q -r -c out.sfv many & pid=$!\n"
        "while kill -0 $pid 2>/dev/null; do\n"
        "  for f in out.sfv.*.tmp; do [ -s \"$f\" ] && break 2; done\n"
        "done\n"
        "kill -STOP $pid; caught=0\n"
        "for f in out.sfv.*.tmp; do [ -s \"$f\" ] && caught=1; done\n"
        "kill -$1 $pid; kill -CONT $pid; wait $pid; echo \"ended $? $caught\"\n";
    std::vector<int> signals = {SIGTERM, SIGALRM,   SIGUSR1, SIGUSR2,
                                SIGPIPE, SIGVTALRM, SIGXCPU, SIGIO};
#ifdef SIGRTMIN
    signals.push_back(SIGRTMIN + 2);
    signals.push_back(SIGRTMAX);
#endif
    for (int signal : signals) {
        const std::string ended = "ended " + std::to_string(128 + signal) + " 1\n";
        bool caught = false;
        for (int trial = 0; trial < 5 && !caught; ++trial) {
            dir.write("out.sfv", old_list);
            auto r = run({"sh", "-c", script, KORVANE_BINARY, std::to_string(signal)});
            caught = r.out.size() >= 2 && r.out.substr(r.out.size() - 2) == "1\n";
            if (caught) {
                EXPECT_EQ(r.out, ended) << "ends by signal " << signal;
            }
            EXPECT_EQ(leftovers(), lines{}) << "signal " << signal;
            for (const auto& name : leftovers()) {
                std::filesystem::remove(dir / name);
            }
            // The old list, or the new one whole.
            std::string list = dir.read("out.sfv");
            if (list != old_list) {
                EXPECT_EQ(entry_lines(list).size(), 20000u) << "signal " << signal;
            }
        }
        EXPECT_TRUE(caught) << "signal " << signal << " never came during the write";
    }
#endif
}

TEST_F(Safety, ANewListCopiesNoDangerousMode) {
    KORVANE_SKIP_ON_WINDOWS("POSIX permission bits and owners");
    if (!can_drop_privileges()) {
        GTEST_SKIP() << "needs root to hand a file to another user";
    }
    using std::filesystem::perms;
    dir.write("a", "abc");
    // Another user's set-uid file: replaced by root, the list must not become
    // a set-uid file owned by root, nor take that user's bits.
    dir.write("theirs.sfv", "");
    ASSERT_EQ(run({"chown", "65534:65534", "theirs.sfv"}).status, 0);
    ASSERT_EQ(run({"chmod", "6777", "theirs.sfv"}).status, 0);
    ASSERT_EQ(korvane({"-q", "-c", "theirs.sfv", "a"}).status, 0);
    auto theirs = std::filesystem::status(dir / "theirs.sfv").permissions();
    EXPECT_EQ(theirs & (perms::set_uid | perms::set_gid | perms::sticky_bit), perms::none);
    EXPECT_EQ(theirs & (perms::owner_exec | perms::group_exec | perms::others_exec), perms::none);

    // The user's own file keeps its permission bits, but no set-id bit.
    dir.write("mine.sfv", "");
    ASSERT_EQ(run({"chmod", "4750", "mine.sfv"}).status, 0);
    ASSERT_EQ(korvane({"-q", "-c", "mine.sfv", "a"}).status, 0);
    EXPECT_EQ(std::filesystem::status(dir / "mine.sfv").permissions(),
              perms::owner_all | perms::group_read | perms::group_exec);
}

TEST_F(Safety, TagsGoOnlyIntoTheUsersOwnListsNeverThroughALink) {
    KORVANE_SKIP_ON_WINDOWS("symbolic links and owners");
    dir.write("a", "abc");
    const std::string list = "a " + crc_abc + "\r\n";
    // A planted link must not carry the tag into another of the user's lists.
    dir.write("other.sfv", list);
    std::filesystem::create_symlink("other.sfv", dir / "link.sfv");
    auto linked = korvane({"-q", "link.sfv"});
    EXPECT_EQ(linked.status, 0);
    EXPECT_EQ(dir.read("other.sfv"), list);

    if (!can_drop_privileges()) {
        return;
    }
    // Another user's list, even one the runner may write, tells its owner
    // nothing about which entries matched files only the runner can read.
    dir.write("theirs.sfv", list);
    ASSERT_EQ(run({"chown", "65534:65534", "theirs.sfv"}).status, 0);
    ASSERT_EQ(run({"chmod", "666", "theirs.sfv"}).status, 0);
    auto theirs = korvane({"-q", "theirs.sfv"});
    EXPECT_EQ(theirs.status, 0);
    EXPECT_EQ(dir.read("theirs.sfv"), list);
    // The own list takes the tag.
    dir.write("mine.sfv", list);
    ASSERT_EQ(korvane({"-q", "mine.sfv"}).status, 0);
    EXPECT_NE(dir.read("mine.sfv").find(";K2-"), std::string::npos);
}

TEST_F(Safety, ReadOnlyListsAreVerifiedWithTheirTagAndUnopenableOnesSaySo) {
    need_unprivileged_user();
    if (IsSkipped()) {
        return;
    }
    dir.write("a", "abc");
    let_time_pass();
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    ASSERT_EQ(as_tester({"chown", "65534:65534", "list.sfv"}).status, 0);
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);  // the tag is written
    const std::string tagged = dir.read("list.sfv");
    ASSERT_NE(tagged.find(";K2-"), std::string::npos);
    ASSERT_EQ(as_tester({"chmod", "444", "list.sfv"}).status, 0);
    auto r = korvane({"list.sfv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "a: Previously verified Ok\n1 files checked\nAll files Ok\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("list.sfv"), tagged);

    dir.write("closed.sfv", "a " + crc_abc + "\r\n");
    ASSERT_EQ(as_tester({"chmod", "600", "closed.sfv"}).status, 0);  // the tester's own
    auto closed = korvane({"-q", "closed.sfv"});
    EXPECT_EQ(closed.status, exit_status(-5));
    EXPECT_EQ(closed.err, "closed.sfv: Access denied\n");
}

TEST_F(Safety, ConcurrentFirstRunsAgreeOnOneSignature) {
    KORVANE_SKIP_ON_WINDOWS("runs programs in parallel through sh");
    dir.write("a", "abc");
    let_time_pass();
    for (int round = 0; round < 10; ++round) {
        std::filesystem::remove_all(config_dir());
        std::string script;
        for (int i = 0; i < 12; ++i) {
            std::string list = "l" + std::to_string(i) + ".sfv";
            dir.write(list, "a " + crc_abc + "\r\n");
            script += "\"$0\" -q " + list + " >/dev/null & ";
        }
        script += "wait";
        ASSERT_EQ(run({"sh", "-c", script, KORVANE_BINARY}).status, 0);
        const std::string conf = read_file(config_dir() / "Korvane" / "korvane.conf");
        ASSERT_EQ(conf.rfind("Signature=", 0), 0U) << conf;
        const std::string signature = conf.substr(10, conf.find('\n') - 10);
        for (int i = 0; i < 12; ++i) {
            const std::string list = dir.read("l" + std::to_string(i) + ".sfv");
            EXPECT_NE(list.find(";K2-" + signature + "/"), std::string::npos)
                << "round " << round << ", list " << i << ":\n"
                << list;
        }
    }
}

TEST_F(Safety, AStoreFolderOthersMayChangeTakesNoTag) {
    KORVANE_SKIP_ON_WINDOWS("POSIX permission bits");
    dir.write("a", "abc");
    write_config("signature=4711\n");
    std::filesystem::permissions(config_dir() / "Korvane", std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::add);
    const std::string list = "a " + crc_abc + "\r\n";
    dir.write("list.sfv", list);
    auto r = korvane({"-q", "list.sfv"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, (config_dir() / "Korvane").string() +
                         ": not a private folder of this user; no settings or tags are saved\n");
    EXPECT_EQ(dir.read("list.sfv"), list);
}

// The folder code of a tag: "/" and the first 16 bytes of the SHA-256 of the
// folder's device, file number and canonical path, in hexadecimal.
std::string folder_code(const std::filesystem::path& folder) {
    platform::file_info info;
    if (platform::get_file_info(platform::widen(folder.string()).c_str(), info) != 0) {
        return "(no such folder)";
    }
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(info.device >> (8 * i));
        bytes[8 + i] = static_cast<unsigned char>(info.inode >> (8 * i));
    }
    sha256hasher digest;
    digest.init();
    digest.update(bytes, sizeof bytes);
    for (unsigned char byte : std::filesystem::canonical(folder).string()) {
        const unsigned char unit[4] = {byte, 0, 0, 0};
        digest.update(unit, sizeof unit);
    }
    digest.finalize();
    const wchar_t* text = digest.hash_to_string();
    std::string code = "/";
    for (int i = 0; i < 32; ++i) {
        code += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    }
    return code;
}

TEST_F(Safety, ATagIsTrustedOnlyForTheFilesItWasEarnedOn) {
    KORVANE_SKIP_ON_WINDOWS("compares the folder code of POSIX paths");
    write_config("signature=4711\n");
    // The originals changed; the copies still match the list.
    dir.write("a", "abd");
    dir.write("copy/a", "abc");
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    let_time_pass();

    auto copies = korvane({"-q", "-p", "copy", "list.sfv"});
    EXPECT_EQ(copies.status, 0);
    EXPECT_NE(dir.read("list.sfv").find(";K2-4711" + folder_code(dir / "copy") + "\r\n"),
              std::string::npos)
        << dir.read("list.sfv");
    auto originals = korvane({"list.sfv"});
    EXPECT_EQ(originals.status, 1) << "the originals were never hashed";
    EXPECT_NE(originals.out.find("a: hash mismatch"), std::string::npos) << originals.out;

    // The reverse: a tag earned on the originals does not vouch for a backup.
    dir.write("a", "abc");
    dir.write("copy/a", "abd");
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    EXPECT_NE(dir.read("list.sfv").find(";K2-4711" + folder_code(dir.path()) + "\r\n"),
              std::string::npos)
        << dir.read("list.sfv");
    auto backup = korvane({"-p", "copy", "list.sfv"});
    EXPECT_EQ(backup.status, 1);
    EXPECT_EQ(backup.out.find("Previously verified"), std::string::npos) << backup.out;

    // The same list from another working directory resolves to other files;
    // a -p naming the list's own folder, through a link, is the plain case.
    dir.write("sub/a", "abc");
    dir.write("sub/list.sfv", "a " + crc_abc + "\r\n");
    std::filesystem::create_directory_symlink("sub", dir / "via");
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "-p", "via", "sub/list.sfv"}).status, 0);
    EXPECT_NE(dir.read("sub/list.sfv").find(";K2-4711" + folder_code(dir / "sub") + "\r\n"),
              std::string::npos);
    auto elsewhere = korvane({"sub/list.sfv"});  // names resolve against dir: "a" is abc too
    EXPECT_EQ(elsewhere.out.find("Previously verified"), std::string::npos) << elsewhere.out;
    EXPECT_NE(dir.read("sub/list.sfv").find(";K2-4711" + folder_code(dir.path()) + "\r\n"),
              std::string::npos);
}

class TagFolders : public Safety {
  protected:
    void SetUp() override { write_config("signature=4711\n"); }
    // Runs korvane with `args` from `folder`, a folder below the test folder.
    cli_result korvane_from(const std::string& folder, const std::vector<std::string>& args) {
        std::vector<std::string> argv{"sh", "-c", "cd \"$1\" && shift && exec \"$0\" \"$@\"",
                                      KORVANE_BINARY, folder};
        argv.insert(argv.end(), args.begin(), args.end());
        return run(argv);
    }
    // Two good files and their list in `folder`.
    void make_folder(const std::string& folder) {
        dir.write(folder + "/f1.bin", "abc");
        dir.write(folder + "/f2.bin", "abc");
        dir.write(folder + "/list.sfv", "f1.bin " + crc_abc + "\r\nf2.bin " + crc_abc + "\r\n");
    }
    // A run whose f2.bin is bad must show it, whatever the tag it was given.
    static void expect_damage_shown(const cli_result& r) {
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("f2.bin: hash mismatch"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("f2.bin: Previously verified Ok"), std::string::npos) << r.out;
    }
};

TEST_F(TagFolders, ACopiedListVouchesForNothingInACopiedFolder) {
    KORVANE_SKIP_ON_WINDOWS("cp and sh");
    make_folder("photos");
    ASSERT_EQ(run({"cp", "-a", "photos", "backup"}).status, 0);
    dir.write("backup/f2.bin", "abd");  // the backup goes bad, before the run below
    let_time_pass();
    ASSERT_EQ(korvane_from("photos", {"-q", "list.sfv"}).status, 0);
    ASSERT_NE(dir.read("photos/list.sfv").find(";K2-4711"), std::string::npos);
    ASSERT_EQ(run({"cp", "-p", "photos/list.sfv", "backup/"}).status, 0);
    expect_damage_shown(korvane_from("backup", {"list.sfv"}));
}

TEST_F(TagFolders, AHardLinkedListVouchesForNothingInItsOtherFolder) {
    KORVANE_SKIP_ON_WINDOWS("sh");
    make_folder("photos");
    dir.write("other/f1.bin", "abc");
    dir.write("other/f2.bin", "abd");
    std::filesystem::create_hard_link(dir / "photos/list.sfv", dir / "other/list.sfv");
    let_time_pass();
    ASSERT_EQ(korvane_from("photos", {"-q", "list.sfv"}).status, 0);
    expect_damage_shown(korvane_from("other", {"list.sfv"}));
}

TEST_F(TagFolders, ALinkRepointedOrAFolderSwappedInVouchesForNothing) {
    KORVANE_SKIP_ON_WINDOWS("symbolic links and sh");
    // A shared folder: the victim reaches the files through a link; another
    // user planted damaged files before the victim's run.
    make_folder("shared/good");
    dir.write("shared/evil/f1.bin", "abc");
    dir.write("shared/evil/f2.bin", "abd");
    std::filesystem::create_directory_symlink("good", dir / "shared/current");
    let_time_pass();
    ASSERT_EQ(korvane_from("shared/current", {"-q", "list.sfv"}).status, 0);
    const std::string tagged = dir.read("shared/good/list.sfv");
    ASSERT_NE(tagged.find(";K2-4711"), std::string::npos);

    // The tagged list copied beside the planted files, the link repointed.
    dir.write("shared/evil/list.sfv", tagged);
    std::filesystem::remove(dir / "shared/current");
    std::filesystem::create_directory_symlink("evil", dir / "shared/current");
    expect_damage_shown(korvane_from("shared/current", {"list.sfv"}));
    dir.write("shared/evil/list.sfv", tagged);
    expect_damage_shown(korvane({"-p", "shared/current", "shared/current/list.sfv"}));

    // The planted folder moved to the very path the tag was earned under.
    std::filesystem::rename(dir / "shared/good", dir / "shared/moved");
    std::filesystem::rename(dir / "shared/evil", dir / "shared/good");
    dir.write("shared/good/list.sfv", tagged);
    expect_damage_shown(korvane_from("shared/good", {"list.sfv"}));
}

// A run with -a asks no entry about the old tag; the tag found to belong to
// another folder must still not take this run's outcomes with it.
TEST_F(TagFolders, ARunWithAllReplacesAForeignTagWithItsOwnOutcomes) {
    KORVANE_SKIP_ON_WINDOWS("compares folder codes made from POSIX paths");
    dir.write("a", "abc");
    dir.write("list.sfv", "a " + crc_abc + "\r\n;K2-4711\r\n;K2-AAAAAAAAAAA=\r\n;K2-gA==\r\n");
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "-a", "list.sfv"}).status, 0);
    EXPECT_EQ(korvane({"list.sfv"}).out,
              "a: Previously verified Ok\n1 files checked\nAll files Ok\n")
        << dir.read("list.sfv");
}

TEST_F(TagFolders, UnchangedFilesAreStillSparedWhereTheirTagWasEarned) {
    KORVANE_SKIP_ON_WINDOWS("compares folder codes made from POSIX paths");
    dir.write("a", "abc");
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    dir.write("sub/a", "abc");
    dir.write("sub/list.sfv", "a " + crc_abc + "\r\n");
    let_time_pass();
    const std::string spared = " files checked\nAll files Ok\n";

    // In the list's own folder: the tag names that folder too.
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    EXPECT_NE(dir.read("list.sfv").find(";K2-4711" + folder_code(dir.path()) + "\r\n"),
              std::string::npos)
        << dir.read("list.sfv");
    EXPECT_EQ(korvane({"list.sfv"}).out, "a: Previously verified Ok\n1" + spared);

    // With -p.
    ASSERT_EQ(korvane({"-q", "-p", "sub", "sub/list.sfv"}).status, 0);
    EXPECT_NE(dir.read("sub/list.sfv").find(";K2-4711" + folder_code(dir / "sub") + "\r\n"),
              std::string::npos)
        << dir.read("sub/list.sfv");
    EXPECT_EQ(korvane({"-p", "sub", "sub/list.sfv"}).out,
              "sub/a: Previously verified Ok\n1" + spared);

    // From another working directory: names resolve against it.
    ASSERT_EQ(korvane_from("sub", {"-q", "../list.sfv"}).status, 0);
    EXPECT_NE(dir.read("list.sfv").find(";K2-4711" + folder_code(dir / "sub") + "\r\n"),
              std::string::npos)
        << dir.read("list.sfv");
    EXPECT_EQ(korvane_from("sub", {"../list.sfv"}).out, "a: Previously verified Ok\n1" + spared);
}

std::string untrusted_note(const std::string& file_system) {
    return "Previously verified entries are not trusted on this file system (" + file_system +
           "): it may not keep a change time\n";
}

class ChangeTimes : public TagFolders {
  protected:
    // Mounts `source` on `point` (folders below the test folder) through
    // bindfs, reporting every file's modification time as its change time,
    // as sshfs does. False when no FUSE mount can be made here.
    bool mount(const std::string& source, const std::string& point) {
        std::filesystem::create_directories(dir / point);
        mounted = run({"bindfs", "--ctime-from-mtime", source, point}).status == 0;
        if (mounted) {
            mount_point = (dir / point).string();
        }
        return mounted;
    }
    void TearDown() override {
        if (mounted && run({"fusermount", "-u", mount_point}).status != 0) {
            (void)run({"umount", mount_point});
        }
    }
    // Replaces the content of `name` and sets its modification time back.
    void replace_keeping_stamp(const std::string& name, const std::string& content) {
        ASSERT_EQ(run({"touch", "-r", name, "stamp"}).status, 0);
        dir.write(name, content);
        ASSERT_EQ(run({"touch", "-r", "stamp", name}).status, 0);
    }

    bool mounted = false;
    std::string mount_point;
};

TEST_F(ChangeTimes, WhereTheChangeTimeCanBeSetNoTagIsTrustedOrWritten) {
    KORVANE_SKIP_ON_WINDOWS("FUSE");
    make_folder("src");
    if (!mount("src", "mnt")) {
        GTEST_SKIP() << "no FUSE mount can be made here";
    }
    let_time_pass();
    const std::string list = dir.read("mnt/list.sfv");
    auto first = korvane_from("mnt", {"list.sfv"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(count_of(first.out, untrusted_note("fuse")), 1u) << first.out;
    EXPECT_EQ(dir.read("mnt/list.sfv"), list) << "no tag is written";

    replace_keeping_stamp("mnt/f2.bin", "abd");
    let_time_pass();
    auto second = korvane_from("mnt", {"list.sfv"});
    expect_damage_shown(second);
    EXPECT_EQ(count_of(second.out, untrusted_note("fuse")), 1u) << second.out;
    EXPECT_EQ(dir.read("mnt/list.sfv"), list);
}

TEST_F(ChangeTimes, AFileSystemMountedBelowTheFolderIsJudgedByItself) {
    KORVANE_SKIP_ON_WINDOWS("FUSE");
    dir.write("src/f2.bin", "abc");
    dir.write("top/f1.bin", "abc");
    dir.write("top/list.sfv", "f1.bin " + crc_abc + "\r\nmnt/f2.bin " + crc_abc + "\r\n");
    if (!mount("src", "top/mnt")) {
        GTEST_SKIP() << "no FUSE mount can be made here";
    }
    let_time_pass();
    ASSERT_EQ(korvane_from("top", {"-q", "list.sfv"}).status, 0);
    ASSERT_NE(dir.read("top/list.sfv").find(";K2-4711"), std::string::npos);

    replace_keeping_stamp("top/mnt/f2.bin", "abd");
    auto again = korvane_from("top", {"list.sfv"});
    EXPECT_NE(again.out.find("f1.bin: Previously verified Ok\n"), std::string::npos) << again.out;
    expect_damage_shown(again);
    EXPECT_EQ(count_of(again.out, untrusted_note("fuse")), 1u) << again.out;
}

#ifdef KORVANE_UNTRUSTED_FS_DRIVER
TEST_F(ChangeTimes, AFileSystemThatMayNotKeepAChangeTimeIsSaidOnceAndLeftUntagged) {
    make_folder("photos");
    let_time_pass();
    ASSERT_EQ(korvane({"-q", "-p", "photos", "photos/list.sfv"}).status, 0);
    const std::string tagged = dir.read("photos/list.sfv");
    ASSERT_NE(tagged.find(";K2-4711"), std::string::npos);
    for (const char* options : {"", "-a", "-q"}) {
        std::vector<std::string> argv{KORVANE_UNTRUSTED_FS_DRIVER};
        if (*options != '\0') {
            argv.emplace_back(options);
        }
        for (const char* arg : {"-p", "photos", "photos/list.sfv"}) {
            argv.emplace_back(arg);
        }
        auto r = run(argv);
        EXPECT_EQ(r.status, 0) << options;
        EXPECT_EQ(r.out.find("Previously verified Ok"), std::string::npos) << options << r.out;
        EXPECT_EQ(count_of(r.out, untrusted_note("untrusted-for-test")), 1u) << options << r.out;
        EXPECT_EQ(dir.read("photos/list.sfv"), tagged) << options;
    }
    // An MD5 list carries no tag: nothing to say.
    dir.write("photos/list.md5", md5_empty + " *empty\n");
    dir.write("photos/empty", "");
    auto md5 = run({KORVANE_UNTRUSTED_FS_DRIVER, "-p", "photos", "photos/list.md5"});
    EXPECT_EQ(md5.status, 0);
    EXPECT_EQ(md5.out.find("not trusted"), std::string::npos) << md5.out;
}
#endif

TEST_F(Safety, RunningOutOfMemoryNeverLeavesAnIncompleteList) {
    KORVANE_SKIP_ON_WINDOWS("address-space limits through sh");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve more address space than any limit allows";
#endif
    std::string names;
    for (int i = 0; i < 3000; ++i) {
        dir.write("many/" + std::string(200, 'n') + std::to_string(i), "abc");
    }
    const std::string old_list = "a " + crc_abc + "\r\n";
    // Wherever memory runs out, the run either writes every entry or fails
    // with the out-of-memory status (never an abort or a crash) and keeps the
    // old list.
    int failed = 0;
    for (int megabytes = 16; megabytes <= 40; ++megabytes) {
        dir.write("out.sfv", old_list);
        auto r = run({"sh", "-c",
                      "(ulimit -v " + std::to_string(megabytes * 1024) +
                          "; exec \"$0\" -q -r -c out.sfv many) 2>/dev/null; echo \"ended $?\"",
                      KORVANE_BINARY});
        const std::string list = dir.read("out.sfv");
        if (r.out.size() >= 8 && r.out.substr(r.out.size() - 8) == "ended 0\n") {
            EXPECT_EQ(entry_lines(list).size(), 3000U) << megabytes << " MB";
        } else {
            ++failed;
            EXPECT_NE(r.out.find("ended 255\n"), std::string::npos)
                << megabytes << " MB: " << r.out;
            EXPECT_EQ(list, old_list) << megabytes << " MB: " << r.out;
        }
        EXPECT_EQ(leftovers(), lines{});
    }
    EXPECT_GT(failed, 0) << "no limit was tight enough to test anything";
}

TEST_F(Safety, AnEntryThatCannotBeAllocatedEndsTheRunAndKeepsTheOldList) {
#ifndef KORVANE_FAULT_DRIVER
    GTEST_SKIP() << "the fault driver is built for POSIX only";
#else
    dir.write("a", "abc");
    dir.write("b", "abc");
    dir.write("c", "abc");
    const std::string old_list = "a " + crc_abc + "\r\n";
    for (long failing : {1L, 2L, 3L}) {
        dir.write("out.sfv", old_list);
        auto r =
            run({KORVANE_FAULT_DRIVER, std::to_string(failing), "-c", "out.sfv", "a", "b", "c"});
        const std::string name(1, static_cast<char>('a' + failing - 1));
        EXPECT_EQ(r.status, exit_status(-1)) << failing;  // the out-of-memory status
        EXPECT_NE(r.out.find("Error adding file " + name + ": Unknown error"), std::string::npos)
            << failing << ": " << r.out;
        EXPECT_EQ(dir.read("out.sfv"), old_list) << failing;
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (lines{".config-home", "a", "b", "c", "out.sfv"})) << failing;
    }
    // With the switch beyond the last entry the same driver writes the list.
    auto r = run({KORVANE_FAULT_DRIVER, "4", "-q", "-c", "out.sfv", "a", "b", "c"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(entry_lines(dir.read("out.sfv")).size(), 3U);
#endif
}

TEST_F(Safety, AListThatCannotBeWrittenOutSaysWhatFailed) {
#ifndef KORVANE_FAULT_DRIVER
    GTEST_SKIP() << "the fault driver is built for POSIX only";
#else
    dir.write("a", "abc");
    const std::string old_list = "a " + crc_abc + "\r\n";
    // The first call that changes a file is the list's write, the second its
    // sync; both fail with EIO, which is a read error's status.
    for (const char* failing : {"w1", "w2"}) {
        dir.write("out.sfv", old_list);
        auto r = run({KORVANE_FAULT_DRIVER, failing, "-q", "-c", "out.sfv", "a"});
        EXPECT_EQ(r.status, exit_status(-3)) << failing;
        EXPECT_EQ(r.err, "out.sfv: File write error\n") << failing;
        EXPECT_EQ(dir.read("out.sfv"), old_list) << failing;
    }
#endif
}

TEST_F(Safety, AFullDiskIsCalledSo) {
    KORVANE_SKIP_ON_WINDOWS("mounts a small tmpfs");
    std::filesystem::create_directories(dir / "small");
    if (run({"sh", "-c", "mount -t tmpfs -o size=16k tmpfs small 2>/dev/null"}).status != 0) {
        GTEST_SKIP() << "needs to mount a tmpfs (root)";
    }
    for (int i = 0; i < 400; ++i) {
        dir.write("many/" + std::string(100, 'f') + std::to_string(i), "");
    }
    auto r = run({KORVANE_BINARY, "-q", "-r", "-c", "small/out.sfv", "many"});
    run({"umount", "small"});
    EXPECT_EQ(r.status, exit_status(-1));  // the write failure's status, as ever
    EXPECT_EQ(r.err, "small/out.sfv: No space left on device\n");
}

TEST_F(Safety, AMissingXdgConfigFolderIsMadePrivate) {
    KORVANE_SKIP_ON_WINDOWS("XDG_CONFIG_HOME and mode bits");
    dir.write("a", "abc");
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    const auto xdg = dir / "missing" / "config";
    auto r = run({"env", "-u", "LOCALAPPDATA", "XDG_CONFIG_HOME=" + xdg.string(), KORVANE_BINARY,
                  "list.sfv"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(std::filesystem::exists(xdg / "Korvane" / "korvane.conf"));
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(xdg).permissions() & perms::all, perms::owner_all);
    // The signature was kept, so the list took its tag.
    EXPECT_NE(dir.read("list.sfv").find(";K2-"), std::string::npos) << dir.read("list.sfv");
}

TEST_F(Safety, TheMarkerNeverEmptiesAnotherFile) {
    KORVANE_SKIP_ON_WINDOWS("hard links and owners");
    write_config("addtag=true\n");
    dir.write("a", "abc");
    dir.write("list.sfv", "a " + crc_abc + "\r\n");
    // A hard link to the victim's file planted under the marker's name.
    auto victim = dir.write("victim", "the victim's data");
    std::filesystem::create_hard_link(victim, dir / "_Verified_");
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    EXPECT_EQ(dir.read("victim"), "the victim's data");

    // Someone else's file of that name stays as it is; the user's own is emptied.
    std::filesystem::remove(dir / "_Verified_");
    dir.write("_Verified_", "theirs");
    if (can_drop_privileges()) {
        ASSERT_EQ(run({"chown", "65534:65534", "_Verified_"}).status, 0);
        ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
        EXPECT_EQ(dir.read("_Verified_"), "theirs");
        std::filesystem::remove(dir / "_Verified_");
        dir.write("_Verified_", "mine");
    }
    ASSERT_EQ(korvane({"-q", "list.sfv"}).status, 0);
    EXPECT_EQ(dir.read("_Verified_"), "");
}

TEST_F(Safety, HugeLinesAfterATagAreMovedInBoundedMemory) {
    KORVANE_SKIP_ON_WINDOWS("address-space limits through sh");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "sanitizers reserve more address space than any limit allows";
#endif
    write_config("signature=4711\n");
    dir.write("a", "abc");
    let_time_pass();
    const std::string head = "a " + crc_abc + "\r\n;K2-4711\r\n;K2-AQAAAAAAAAA=\r\n";
    struct {
        const char* what;
        const char* start;
        std::size_t megabytes;
        char filler;
    } cases[] = {{"a 200 MB line", "", 200, 'x'}, {"a 50 MB bit line", ";K2-", 50, 'A'}};
    for (const auto& c : cases) {
        {
            // Written in pieces: this process must not hold the line either,
            // or the child would inherit its pages.
            std::ofstream out(dir / "list.sfv", std::ios::binary);
            out << head << c.start;
            const std::string piece(1u << 20, c.filler);
            for (std::size_t i = 0; i < c.megabytes; ++i) {
                out << piece;
            }
            out << "\r\n";
        }
        // 256 MiB of address space: holding the line whole would not fit.
        auto r = run({"sh", "-c", "ulimit -v 262144; exec \"$0\" -q list.sfv", KORVANE_BINARY});
        EXPECT_NE(r.out.find("1 files checked"), std::string::npos)
            << c.what << ": " << r.out << r.err;
        EXPECT_LT(r.peak_memory_kib, 64u * 1024u) << c.what;
        EXPECT_EQ(read_file(dir / "list.sfv").substr(0, 12), "a " + crc_abc + "\r\n") << c.what;
        EXPECT_EQ(leftovers(), lines{}) << c.what;
    }
}

}  // namespace
}  // namespace korvane::testing
