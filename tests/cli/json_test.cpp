// Results as JSON Lines: every line of every kind of run parses as JSON, each
// event carries what a script needs, and nothing else reaches standard output.
#if __has_include(<nlohmann/json.hpp>)
#include <nlohmann/json.hpp>
#define KORVANE_HAVE_JSON_PARSER 1
#endif

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_helpers.h"
#include "support/cli.h"
#include "support/target.h"

namespace korvane::testing {
namespace {

#ifdef KORVANE_HAVE_JSON_PARSER

using json = nlohmann::json;

class Json : public cli_test {
  protected:
    // The objects a run printed, one a line; a line that does not parse
    // fails the test.
    std::vector<json> objects(const cli_result& r) {
        std::vector<json> out;
        for (const std::string& line : lines_of(r.out)) {
            json object = json::parse(line, nullptr, false);
            EXPECT_FALSE(object.is_discarded()) << "not JSON: " << line;
            EXPECT_TRUE(object.is_object()) << line;
            out.push_back(object);
        }
        return out;
    }
    // The object of the file event for `name`, or null.
    static json file(const std::vector<json>& events, const std::string& name) {
        for (const json& event : events) {
            if (event["event"] == "file" && event["name"] == name) {
                return event;
            }
        }
        return nullptr;
    }
    void later(const std::string& name) {
        std::filesystem::last_write_time(
            dir / name, std::filesystem::last_write_time(dir / name) + std::chrono::hours(1));
    }
};

TEST_F(Json, AVerificationSaysEachVerdictThenTheSummaryWithTheExitStatus) {
    KORVANE_SKIP_ON_WINDOWS("makes the list in its folder through sh");
    for (const char* name : {"ok", "edited", "gone", "rotten"}) {
        dir.write(std::string("photos/") + name, "abc");
    }
    dir.write("ref", "x");
    ASSERT_EQ(run({"sh", "-c", "cd photos && \"$0\" -q -c ../list.sfv ok edited gone rotten",
                   KORVANE_BINARY})
                  .status,
              0);
    std::filesystem::last_write_time(dir / "ref",
                                     std::filesystem::last_write_time(dir / "photos/rotten"));
    dir.write("photos/rotten", "abd");
    std::filesystem::last_write_time(dir / "photos/rotten",
                                     std::filesystem::last_write_time(dir / "ref"));
    dir.write("photos/edited", "abcd");
    later("photos/edited");
    std::filesystem::remove(dir / "photos/gone");
    dir.write("photos/new", "abc");
    let_time_pass();

    auto r = korvane({"--json", "--audit", "-p", "photos", "list.sfv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "");
    const std::vector<json> events = objects(r);
    ASSERT_GE(events.size(), 2U) << r.out;
    EXPECT_EQ(events.front()["event"], "start");
    EXPECT_EQ(events.front()["run"], "verification");
    EXPECT_EQ(events.front()["list"], "list.sfv");
    EXPECT_EQ(events.front()["type"], "sfv");

    const json ok = file(events, "photos/ok");
    EXPECT_EQ(ok["status"], "ok");
    EXPECT_EQ(ok["expected"], crc_abc);
    EXPECT_EQ(ok["actual"], crc_abc);
    EXPECT_EQ(ok["size"], 3);
    const json rotten = file(events, "photos/rotten");
    EXPECT_EQ(rotten["status"], "mismatch");
    EXPECT_EQ(rotten["expected"], crc_abc);
    EXPECT_EQ(rotten["diagnosis"], "damaged");
    const json edited = file(events, "photos/edited");
    EXPECT_EQ(edited["diagnosis"], "changed");
    // The file's modification time, in UTC.
    EXPECT_EQ(edited["modified"].get<std::string>().size(), 20U) << edited;
    EXPECT_EQ(edited["modified"].get<std::string>().back(), 'Z');
    EXPECT_EQ(file(events, "photos/gone")["status"], "missing");
    // Paths as the console shows them; an unlisted file by its name in the folder.
    EXPECT_EQ(file(events, "new")["status"], "not_listed");

    const json& last = events.back();
    EXPECT_EQ(last["event"], "summary");
    EXPECT_EQ(last["ok"], 1);
    EXPECT_EQ(last["mismatch"], 2);
    EXPECT_EQ(last["damaged"], 1);
    EXPECT_EQ(last["missing"], 1);
    EXPECT_EQ(last["not_listed"], 1);
    EXPECT_EQ(last["exit_status"], 1);

    // The remembered verdicts of the run before (only `ok` verified).
    r = korvane({"--json", "-p", "photos", "list.sfv"});
    EXPECT_EQ(file(objects(r), "photos/ok")["status"], "previously_verified") << r.out;
}

TEST_F(Json, CreationsAndUpdatesSayWhatTheyAddedUpdatedKeptAndRemoved) {
    dir.write("photos/a", "abc");
    dir.write("photos/b", "123456789");
    dir.write("photos/c", "x");
    auto r = korvane({"--json", "-q", "-r", "-c", "list.md5", "-T", "photos"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<json> events = objects(r);
    EXPECT_EQ(events.front()["run"], "creation");
    EXPECT_EQ(file(events, "photos/a")["status"], "added");
    EXPECT_EQ(file(events, "photos/a")["actual"], md5_abc);
    EXPECT_EQ(file(events, "photos/b")["size"], 9);
    EXPECT_EQ(events.back()["added"], 3);
    EXPECT_EQ(events.back()["exit_status"], 0);

    dir.write("photos/b", "1234567890");
    later("photos/b");
    std::filesystem::remove(dir / "photos/c");
    dir.write("photos/d", "abc");
    r = korvane({"--json", "-u", "list.md5", "-r", "photos"});
    events = objects(r);
    EXPECT_EQ(events.front()["run"], "update");
    EXPECT_EQ(file(events, "photos/b")["status"], "updated");
    EXPECT_EQ(file(events, "photos/d")["status"], "added");
    EXPECT_EQ(events.back()["updated"], 1);
    r = korvane({"--json", "-u", "--prune", "list.md5", "-r", "photos"});
    events = objects(r);
    EXPECT_EQ(file(events, "photos/c")["status"], "removed");
    EXPECT_EQ(events.back()["removed"], 1);
    EXPECT_EQ(events.back()["exit_status"], 0);
}

// Names that are not text, or hold a line feed, reach a script whole.
TEST_F(Json, EveryNameComesThroughWhole) {
    KORVANE_SKIP_ON_WINDOWS("file names as bytes");
    const std::string bad = std::string("bad") + '\xff' + "name";
    dir.write(bad, "abc");
    // A line feed in a name: written escaped by a digest list.
    dir.write("list.md5", "\\" + md5_abc + "  new\\nline\n" + md5_abc + "  " + bad + "\n");
    dir.write("new\nline", "abc");
    auto r = korvane({"--json", "list.md5"});
    EXPECT_EQ(r.status, 0) << r.out;
    const std::vector<json> events = objects(r);
    EXPECT_EQ(file(events, "new\nline")["status"], "ok") << r.out;
    json named;
    for (const json& event : events) {
        if (event.contains("name_bytes")) {
            named = event;
        }
    }
    ASSERT_TRUE(named.is_object()) << r.out;
    EXPECT_EQ(named["name_bytes"], "626164ff6e616d65");
    EXPECT_EQ(named["name"], "bad\xEF\xBF\xBDname");
}

// Lines of the list that are not as they should be: named by their number.
TEST_F(Json, ImproperLinesAndIrregularChecksumsAreNamedByLine) {
    dir.write("a", "abc");
    dir.write("list.md5", md5_abc + "  a\nnot a checksum line\n");
    auto r = korvane({"--json", "--warn", "list.md5"});
    std::vector<json> events = objects(r);
    bool named = false;
    for (const json& event : events) {
        named = named || (event["event"] == "improper_line" && event["line"] == 2);
    }
    EXPECT_TRUE(named) << r.out;
    EXPECT_EQ(events.back()["improper_lines"], 1);
    EXPECT_EQ(events.back()["exit_status"], 0);

    // An SFV checksum field of nine digits keeps its reading and is named.
    dir.write("list.sfv", "a 0" + crc_abc + "\r\n");
    r = korvane({"--json", "list.sfv"});
    events = objects(r);
    named = false;
    for (const json& event : events) {
        named = named || (event["event"] == "irregular_checksum" && event["line"] == 1);
    }
    EXPECT_TRUE(named) << r.out;
    EXPECT_EQ(file(events, "a")["status"], "ok") << r.out;
}

TEST_F(Json, ProblemsAndRefusalsAreEventsToo) {
    KORVANE_SKIP_ON_WINDOWS("permission bits");
    dir.write("photos/a", "abc");
    dir.write("photos/secret", "abc");
    std::filesystem::permissions(dir / "photos/secret", std::filesystem::perms::none);
    auto r = korvane({"--json", "-r", "-c", "list.sfv", "photos"});
    std::filesystem::permissions(dir / "photos/secret", std::filesystem::perms::owner_all);
    std::vector<json> events = objects(r);
    bool unreadable = false;
    for (const json& event : events) {
        unreadable =
            unreadable || (event["event"] == "problem" && event["kind"] == "unreadable_file" &&
                           event["name"] == "photos/secret");
    }
    EXPECT_TRUE(unreadable) << r.out;
    EXPECT_EQ(events.back()["problems"], 1);

    dir.write("elsewhere.sfv", "x/1 " + crc_abc + "\r\n");
    r = korvane({"--json", "-u", "elsewhere.sfv"});
    events = objects(r);
    ASSERT_GE(events.size(), 2U) << r.out;
    EXPECT_EQ(events[events.size() - 2]["event"], "refused");
    EXPECT_EQ(events[events.size() - 2]["run"], "update");
    EXPECT_NE(events.back()["exit_status"], 0);

    dir.write("odd.txt", "nothing a list holds\n");
    r = korvane({"--json", "odd.txt"});
    events = objects(r);
    ASSERT_FALSE(events.empty()) << r.out;
    EXPECT_EQ(events.front()["event"], "list_error");
    EXPECT_EQ(events.back()["exit_status"], exit_status(-6));
}

#endif

}  // namespace
}  // namespace korvane::testing
