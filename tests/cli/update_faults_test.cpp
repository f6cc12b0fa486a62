// Updates measured and broken through the fault driver: which files an update
// opens for hashing, every write of its rewrite failing in turn (as an I/O
// error and as a full disk), and a list its user may not write.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

using lines = std::vector<std::string>;

// An SFV list, and an MD5 list made with -T so that it records sizes and times.
struct list_kind {
    const char* list;
    const char* record_flag;
    std::string (*line)(const std::string& digest_of, const std::string& name);
};

// The entry line of `name` whose content is one of the few the tests write.
std::string sfv_line(const std::string& content, const std::string& name) {
    const std::string crc = content == "abc"         ? crc_abc
                            : content == "123456789" ? crc_123456789
                                                     : "AB40D461";  // "abd"
    return name + " " + crc;
}
std::string md5_line(const std::string& content, const std::string& name) {
    const std::string md5 = content == "abc"         ? md5_abc
                            : content == "123456789" ? "25f9e794323b453885f5181f1b624d0b"
                                                     : "4911e516e5aa21d327512e0c8b197616";
    return md5 + " *" + name;
}

#ifdef KORVANE_FAULT_DRIVER
const char* const fault_driver = KORVANE_FAULT_DRIVER;
#else
const char* const fault_driver = nullptr;
#endif

const list_kind kinds[] = {{"list.sfv", "", &sfv_line}, {"list.md5", "-T", &md5_line}};

// The lines of a list that are neither comments nor records.
lines entries_of(const std::string& text) {
    lines found;
    for (auto& line : entry_lines(text)) {
        if (line[0] != '#') {
            found.push_back(line);
        }
    }
    return found;
}

// The count the driver's `h` switch writes as the last line of standard
// error; -1 when there is none.
long opened_for_hashing(const std::string& err) {
    const std::string mark = "korvane_fault_driver: ";
    const auto at = err.rfind(mark);
    if (at == std::string::npos) {
        return -1;
    }
    return std::strtol(err.c_str() + at + mark.size(), nullptr, 10);
}

class UpdateFaults : public cli_test {
  protected:
    // Long names make lists of some hundred kilobytes, so that each rewrite
    // takes several writes.
    static std::string name(char letter, int i) {
        return std::string(240, letter) + std::to_string(1000 + i);
    }
    void make_tree(char letter, int files, const std::string& content = "abc") {
        for (int i = 0; i < files; ++i) {
            dir.write("tree/" + name(letter, i), content);
        }
    }
    // The list of every file in tree/, by the names inside it.
    void create(const list_kind& kind) {
        auto r = run({"sh", "-c", "cd tree && \"$0\" -q $1 -c ../$2 *", KORVANE_BINARY,
                      kind.record_flag, kind.list});
        ASSERT_EQ(r.status, 0) << r.out << r.err;
    }
    // New content, and a modification time a day before the write: a time
    // that differs from the recorded one whatever the clock's resolution.
    void change(const std::string& name, const std::string& content) {
        const auto path = dir.write("tree/" + name, content);
        std::filesystem::last_write_time(
            path, std::filesystem::last_write_time(path) - std::chrono::hours(24));
    }
    // The names in the test's folder, sorted: a temporary file left over
    // shows here.
    lines top_names() const {
        lines names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // An update of `kind`'s list of tree/ through the fault driver with the
    // switch `faults`.
    cli_result update(const std::string& faults, const list_kind& kind, bool prune = false) {
        std::vector<std::string> argv = {fault_driver, faults, "-q", "-u", "-p", "tree"};
        if (prune) {
            argv.push_back("--prune");
        }
        argv.push_back(kind.list);
        return run(argv);
    }
    cli_result verify(const list_kind& kind) {
        return run({fault_driver, "h", "-q", "-p", "tree", kind.list});
    }
};

#define KORVANE_NEED_FAULT_DRIVER()                                 \
    if (fault_driver == nullptr) {                                  \
        GTEST_SKIP() << "the fault driver is built for POSIX only"; \
    }

// The update opens exactly the files added or changed since the list was
// written: the count of opens, not the time taken, says so.
TEST_F(UpdateFaults, AnUpdateOpensOnlyTheFilesAddedOrChanged) {
    KORVANE_NEED_FAULT_DRIVER();
    constexpr int files = 300;
    make_tree('f', files);
    for (const auto& kind : kinds) {
        create(kind);
    }
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.list);
        // Nothing changed: nothing opened, not a byte of the list changed.
        const std::string before = dir.read(kind.list);
        auto r = update("h", kind);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(opened_for_hashing(r.err), 0);
        EXPECT_EQ(dir.read(kind.list), before);
        // The counter counts: a verification opens every file.
        r = verify(kind);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(opened_for_hashing(r.err), files);
    }

    // One file added, one changed in content, size and time.
    dir.write("tree/added", "abc");
    change(name('f', 7), "123456789");
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.list);
        auto r = update("h", kind);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(opened_for_hashing(r.err), 2);
        const lines entries = entries_of(dir.read(kind.list));
        ASSERT_EQ(entries.size(), files + 1U);
        EXPECT_EQ(entries[7], kind.line("123456789", name('f', 7)));
        EXPECT_EQ(entries.back(), kind.line("abc", "added"));
        EXPECT_EQ(verify(kind).status, 0);
    }

    // A change of content that keeps the size shows in the time alone.
    change(name('f', 8), "abd");
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.list);
        auto r = update("h", kind);
        EXPECT_EQ(opened_for_hashing(r.err), 1);
        EXPECT_EQ(entries_of(dir.read(kind.list))[8], kind.line("abd", name('f', 8)));
        EXPECT_EQ(verify(kind).status, 0);
    }
}

// Each call that changes a file fails in turn, from the first write of the
// new list (or of the scratch file its new entries overflow into) to the
// rename over the old one: every failing run says so and keeps the old list
// byte for byte, leaving nothing beside it; the first run whose switch lies
// beyond the last call writes the whole new list.
TEST_F(UpdateFaults, EveryWriteOfAnUpdateThatFailsKeepsTheOldList) {
    KORVANE_NEED_FAULT_DRIVER();
    constexpr int files = 300;
    make_tree('f', files);
    for (const auto& kind : kinds) {
        create(kind);
    }
    // More new entries than the spool holds in memory, some replaced (one by
    // its time alone), some gone.
    make_tree('g', 500);
    change(name('f', 3), "123456789");
    change(name('f', 4), "abd");
    change(name('f', 299), "123456789");
    for (int gone : {0, 5, 150}) {
        std::filesystem::remove(dir / ("tree/" + name('f', gone)));
    }
    const lines names_before = top_names();
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.list);
        const std::string old_list = dir.read(kind.list);
        int failed = 0;
        cli_result r;
        for (long n = 1; n < 100; ++n) {
            dir.write(kind.list, old_list);
            r = update("w" + std::to_string(n), kind, true);
            if (r.status == 0) {
                break;
            }
            ++failed;
            EXPECT_EQ(r.status, exit_status(-3)) << n;
            EXPECT_EQ(r.err, std::string(kind.list) + ": File write error, not updated\n") << n;
            EXPECT_EQ(dir.read(kind.list), old_list) << n;
            EXPECT_EQ(top_names(), names_before) << n;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        // The old list's copy, its sync and the rename at least.
        EXPECT_GE(failed, 3);
        const std::string written = dir.read(kind.list);
        EXPECT_EQ(top_names(), names_before);

        lines expected;
        for (int i = 0; i < files; ++i) {
            if (i == 0 || i == 5 || i == 150) {
                continue;
            }
            const bool changed = i == 3 || i == 299;
            expected.push_back(kind.line(changed  ? "123456789"
                                         : i == 4 ? "abd"
                                                  : "abc",
                                         name('f', i)));
        }
        for (int i = 0; i < 500; ++i) {
            expected.push_back(kind.line("abc", name('g', i)));
        }
        EXPECT_EQ(entries_of(written), expected);
        // The same bytes as an update without faults writes.
        dir.write(kind.list, old_list);
        ASSERT_EQ(update("0", kind, true).status, 0);
        EXPECT_EQ(dir.read(kind.list), written);
        EXPECT_EQ(verify(kind).status, 0);
    }
}

// A disk that fills up at any write of the rewrite is called full.
TEST_F(UpdateFaults, AFullDiskDuringTheRewriteIsCalledSo) {
    KORVANE_NEED_FAULT_DRIVER();
    make_tree('f', 20);
    for (const auto& kind : kinds) {
        create(kind);
    }
    dir.write("tree/added", "abc");
    change(name('f', 2), "123456789");
    const lines names_before = top_names();
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.list);
        const std::string old_list = dir.read(kind.list);
        cli_result r;
        long n = 1;
        for (; n < 20; ++n) {
            dir.write(kind.list, old_list);
            r = update("s" + std::to_string(n), kind);
            if (r.status == 0) {
                break;
            }
            EXPECT_EQ(r.status, exit_status(-1)) << n;  // a write failure's status
            EXPECT_EQ(r.err, std::string(kind.list) + ": No space left on device, not updated\n")
                << n;
            EXPECT_EQ(dir.read(kind.list), old_list) << n;
            EXPECT_EQ(top_names(), names_before) << n;
        }
        EXPECT_GT(n, 1);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(entries_of(dir.read(kind.list)).back(), kind.line("abc", "added"));
    }
}

// A list made read-only is not replaced by the rename an update ends with:
// the update says so and leaves it as it is.
TEST_F(UpdateFaults, AListItsUserMayNotWriteIsLeftAsItIs) {
    KORVANE_SKIP_ON_WINDOWS("POSIX permission bits and owners");
    const bool root = run({"id", "-u"}).out == "0\n";
    if (root && !can_drop_privileges()) {
        GTEST_SKIP() << "root may write anyway, and setpriv is missing to run as another user";
    }
    make_tree('f', 3);
    for (const auto& kind : kinds) {
        create(kind);
    }
    dir.write("tree/added", "abc");
    change(name('f', 1), "123456789");
    for (const auto& kind : kinds) {
        SCOPED_TRACE(kind.list);
        const std::string old_list = dir.read(kind.list);
        if (root) {
            // The list becomes the unprivileged user's own, read-only file.
            ASSERT_EQ(run({"chown", "65534:65534", kind.list}).status, 0);
            as_nobody = true;
        }
        using std::filesystem::perms;
        std::filesystem::permissions(dir / kind.list,
                                     perms::owner_read | perms::group_read | perms::others_read);
        const lines names_before = top_names();
        auto r = run({KORVANE_BINARY, "-u", "-p", "tree", kind.list});
        as_nobody = false;
        EXPECT_EQ(r.status, exit_status(-5)) << r.err;
        EXPECT_EQ(r.err, std::string(kind.list) + ": Access denied, not updated\n");
        EXPECT_EQ(r.out, "") << "refused before anything is hashed for it";
        EXPECT_EQ(dir.read(kind.list), old_list);
        EXPECT_EQ(std::filesystem::status(dir / kind.list).permissions() & perms::all,
                  perms::owner_read | perms::group_read | perms::others_read);
        EXPECT_EQ(top_names(), names_before);
    }
}

}  // namespace
}  // namespace korvane::testing
