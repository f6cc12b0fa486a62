// The merge of shard runs: every shard's file is read through and checked
// before anything is said, so that a merge either speaks for the whole run
// or fails; then the files are read again alongside the list (a
// verification) or by their places in the walk (a creation).
#include <korvane/list_types.h>
#include <korvane/sfv.h>

#include <algorithm>
#include <limits>
#include <queue>
#include <utility>
#include <vector>

#include "entries.h"
#include "merge.h"
#include "output.h"
#include "platform/text.h"
#include "update.h"

namespace korvane::app {

namespace {

struct shard_file {
    std::wstring path;
    bool creation = false;
    bool update = false;
    std::uint32_t index = 0;
    std::uint32_t count = 0;
    std::string type;
    std::string list;  // digest and size
    std::string folder;
    std::string run;
    bool doall = false;
    bool audit = false;
    std::uint64_t started = 0;
    std::uint64_t records = 0;  // every record line
    std::uint64_t entry_records = 0;
    std::uint64_t found = 0;  // creation: files the walk found
    std::wstring untrusted;   // verification
    std::uint64_t first = 0;  // verification: the first entry's place
    // An update's: its run of entries ([range_first, range_end), none when
    // range_first is -1) and the first whose file is there (or -1).
    std::int64_t range_first = -1;
    std::int64_t range_end = -1;
    std::int64_t first_present = -1;
};

// One record line: an entry's verdict or a created file.
struct record_line {
    std::uint64_t place = 0;  // entry index, or the file's place in the walk
    bool spared = false;
    status result = status::ok;
    std::uint64_t size = 0;
    std::uint64_t time = 0;
    unsigned char digest[128] = {};
    std::wstring path;
};

bool parse_record(std::string_view line, bool creation, std::size_t digest_size, record_line& out) {
    const std::vector<std::string_view> fields = fields_of(line);
    if (fields.size() < 3 || fields[0] != (creation ? "f" : "e") ||
        !number_field(fields[1], out.place)) {
        return false;
    }
    out.spared = !creation && fields.size() == 3 && fields[2] == "p";
    if (out.spared) {
        return true;
    }
    std::uint64_t code = 0;
    const std::size_t at = creation ? 2 : 3;  // size, time, digest follow
    if (fields.size() != 6 || (!creation && (!number_field(fields[2], code) || code > 100)) ||
        !number_field(fields[at], out.size) || !number_field(fields[at + 1], out.time)) {
        return false;
    }
    out.result = from_int(-static_cast<int>(code));
    if (creation) {
        return bytes_of_hex(fields[4], out.digest, digest_size) &&
               decode_text(fields[5], out.path) && !out.path.empty();
    }
    return out.result == status::ok ? bytes_of_hex(fields[5], out.digest, digest_size)
                                    : fields[5] == "-";
}

// An audit's line of a file the list lacks: its place in the walk, its name.
bool parse_unlisted(std::string_view line, std::uint64_t& place, std::wstring& name) {
    const std::vector<std::string_view> fields = fields_of(line);
    return fields.size() == 3 && fields[0] == "u" && number_field(fields[1], place) &&
           decode_text(fields[2], name) && !name.empty();
}

// The head's lines, by their first word.
bool parse_head_line(std::string_view line, shard_file& out) {
    const std::vector<std::string_view> fields = fields_of(line);
    const std::string_view key = fields[0];
    std::uint64_t number = 0;
    std::uint64_t count = 0;
    if (key == "kind" && fields.size() == 2 &&
        (fields[1] == "creation" || fields[1] == "verification" || fields[1] == "update")) {
        out.creation = fields[1] == "creation";
        out.update = fields[1] == "update";
    } else if (key == "shard" && fields.size() == 3 && number_field(fields[1], number) &&
               number_field(fields[2], count) && number >= 1 && number <= count &&
               count <= max_shards) {
        out.index = static_cast<std::uint32_t>(number);
        out.count = static_cast<std::uint32_t>(count);
    } else if (key == "type" && fields.size() == 2) {
        out.type = fields[1];
    } else if (key == "list" && fields.size() == 3) {
        out.list = std::string(fields[1]) + ' ' + std::string(fields[2]);
    } else if (key == "folder" && fields.size() == 2) {
        out.folder = fields[1] == "-" ? std::string() : std::string(fields[1]);
    } else if (key == "run" && fields.size() == 2) {
        out.run = fields[1];
    } else if (key == "doall" && fields.size() == 2 && (fields[1] == "0" || fields[1] == "1")) {
        out.doall = fields[1] == "1";
    } else if (key == "audit" && fields.size() == 2 && (fields[1] == "0" || fields[1] == "1")) {
        out.audit = fields[1] == "1";
    } else if (key == "started" && fields.size() == 2 && number_field(fields[1], number)) {
        out.started = number;
    } else {
        return false;
    }
    return true;
}

bool head_complete(const shard_file& file) {
    return file.index != 0 && !file.type.empty() && file.started != 0 &&
           (file.creation ? !file.run.empty() : !file.list.empty());
}

// A place that may be "-": none.
bool optional_place(std::string_view text, std::int64_t& out) {
    std::uint64_t value = 0;
    if (text == "-") {
        out = -1;
        return true;
    }
    if (!number_field(text, value) || value > (std::uint64_t{1} << 62)) {
        return false;
    }
    out = static_cast<std::int64_t>(value);
    return true;
}

bool parse_end(std::string_view line, shard_file& out) {
    const std::vector<std::string_view> fields = fields_of(line);
    std::uint64_t records = 0;
    if (out.update) {
        return fields.size() == 5 && fields[0] == "end" && number_field(fields[1], records) &&
               records == out.records && optional_place(fields[2], out.range_first) &&
               optional_place(fields[3], out.range_end) &&
               optional_place(fields[4], out.first_present) &&
               (out.range_first < 0) == (out.range_end < 0) && out.range_first <= out.range_end;
    }
    if (fields.size() != 3 || fields[0] != "end" || !number_field(fields[1], records) ||
        records != out.records) {
        return false;
    }
    if (out.creation) {
        return number_field(fields[2], out.found);
    }
    return fields[2] == "-" || decode_text(fields[2], out.untrusted);
}

// An update shard's line: what became of an entry ("e") or a new file ("a").
struct update_line {
    bool added = false;
    std::uint64_t place = 0;
    char what = 0;           // g gone, x not looked at, h hashed, f hashing failed, l left out
    std::uint64_t code = 0;  // x: the error number; f: the status, negated; l: why
    std::uint64_t size = 0;
    std::uint64_t time = 0;
    unsigned char digest[128] = {};
    std::wstring name;  // "a": as the list will name it
    std::wstring path;  // "a": as walked
};

bool parse_update_line(std::string_view line, std::size_t digest_size, update_line& out) {
    const std::vector<std::string_view> fields = fields_of(line);
    if (fields.size() < 3 || (fields[0] != "e" && fields[0] != "a") ||
        !number_field(fields[1], out.place) || fields[2].size() != 1) {
        return false;
    }
    out.added = fields[0] == "a";
    out.what = fields[2][0];
    const std::size_t own = out.what == 'g' ? 3 : out.what == 'h' ? 6 : 4;
    if ((out.what == 'g' && out.added) ||
        std::string_view("gxhfl").find(out.what) == std::string_view::npos ||
        fields.size() != own + (out.added ? 2 : 0)) {
        return false;
    }
    if (out.added && (!decode_text(fields[own], out.name) || out.name.empty() ||
                      !decode_text(fields[own + 1], out.path) || out.path.empty())) {
        return false;
    }
    if (out.what == 'h') {
        return number_field(fields[3], out.size) && number_field(fields[4], out.time) &&
               bytes_of_hex(fields[5], out.digest, digest_size);
    }
    return out.what == 'g' || (number_field(fields[3], out.code) && out.code <= 100000);
}

// The checks of a shard's file as it is read through: the head's lines,
// then records in order, then the end line.
struct shard_file_check {
    explicit shard_file_check(shard_file& file) : out(file) {}

    shard_file& out;
    bool in_head = true;
    bool ended = false;
    record_line record;
    update_line change;
    std::uint64_t unlisted = 0;
    std::uint64_t unlisted_place = 0;
    std::wstring unlisted_name;
    // The length of the file's digests, settled when its head ends: its own
    // type's, so that one of another type is said to be so, not damaged.
    std::size_t digest_size = 0;

    void end_head() {
        in_head = false;
        const int type = type_from_word(platform::widen(out.type).c_str());
        digest_size = type < 0 ? 0 : static_cast<std::size_t>(type_row(type).digest_size);
    }

    bool entry(std::string_view line) {
        const std::uint64_t before = record.place;
        const bool fits = unlisted == 0 && digest_size != 0 &&
                          parse_record(line, out.creation, digest_size, record) &&
                          (out.entry_records == 0 ||
                           (out.creation ? record.place > before : record.place == before + 1));
        out.first = out.entry_records == 0 ? record.place : out.first;
        ++out.entry_records;
        return fits;
    }

    // After the entries, in the order of the walk.
    bool unlisted_file(std::string_view line) {
        const std::uint64_t before = unlisted_place;
        const bool fits = !out.creation && !out.update && out.audit &&
                          parse_unlisted(line, unlisted_place, unlisted_name) &&
                          (unlisted == 0 || unlisted_place > before);
        ++unlisted;
        return fits;
    }

    // Entries in list order, then new files in walk order.
    bool update_record(std::string_view line) {
        const std::uint64_t before = change.place;
        const bool was_added = change.added;
        const bool first = out.records == 0;
        if (digest_size == 0 || !parse_update_line(line, digest_size, change)) {
            return false;
        }
        return first || (was_added == change.added && change.place > before) ||
               (!was_added && change.added);
    }

    bool line(std::string_view text, std::uint64_t number) {
        if (number == 1) {
            return text == results_magic;
        }
        if (ended) {
            return false;
        }
        if (text.starts_with("end ")) {
            ended = true;
            return head_complete(out) && parse_end(text, out);
        }
        const bool record_line = text.starts_with("e ") || text.starts_with("f ") ||
                                 text.starts_with("u ") || text.starts_with("a ");
        if (in_head && !record_line) {
            return parse_head_line(text, out);
        }
        if (in_head) {
            end_head();
        }
        if (!head_complete(out)) {
            return false;
        }
        bool fits = false;
        if (out.update) {
            fits = update_record(text);
        } else if (text.starts_with("u ")) {
            fits = unlisted_file(text);
        } else {
            fits = entry(text);
        }
        ++out.records;
        return fits;
    }
};

// Reads a shard's file through: its head, every record in order, its end.
bool read_shard_file(const std::wstring& path, shard_file& out, merge_problem& problem) {
    out.path = path;
    problem.path = out.path.c_str();
    results_reader reader;
    if (const int error = reader.open(path); error != 0) {
        problem.what = merge_issue::unreadable;
        problem.cause = from_errno(error);
        return false;
    }
    shard_file_check check(out);
    std::string_view line;
    while (reader.next(line)) {
        problem.line = reader.line_number();
        if (!check.line(line, reader.line_number())) {
            problem.what = merge_issue::damaged;
            return false;
        }
    }
    const bool ended = check.ended;
    problem.shard = out.index;
    problem.count = out.count;
    if (reader.error() != 0 && !reader.too_long()) {
        problem.what = merge_issue::unreadable;
        problem.cause = from_errno(reader.error());
        return false;
    }
    if (reader.too_long() || (!ended && reader.line_number() == 0)) {
        problem.what = merge_issue::damaged;
        problem.line = reader.line_number() + 1;
        return false;
    }
    if (!ended) {
        problem.what = merge_issue::incomplete;  // its last line never came
        return false;
    }
    if (reader.cut_short()) {
        problem.what = merge_issue::damaged;  // bytes after the end line
        problem.line = reader.line_number() + 1;
        return false;
    }
    return true;
}

// The first thing that keeps `file` from merging with `first`, or false.
bool conflicts(const shard_file& file, const shard_file& first, bool creation,
               const std::string& type, merge_issue& what) {
    if (file.creation != creation || file.update != first.update) {
        what = merge_issue::other_kind;
    } else if (file.count != first.count) {
        what = merge_issue::other_count;
    } else if (file.type != type) {
        what = merge_issue::other_type;
    } else if (creation && file.run != first.run) {
        what = merge_issue::other_run;
    } else if (creation && file.found != first.found) {
        what = merge_issue::other_walk;
    } else if (!creation && (file.doall != first.doall || file.audit != first.audit)) {
        what = merge_issue::other_settings;
    } else {
        return false;
    }
    return true;
}

struct merge_inputs {
    std::vector<shard_file> shards;  // by shard number once checked
    std::uint64_t earliest = std::numeric_limits<std::uint64_t>::max();
};

// Reads every file, and checks that together they are each shard of one
// run exactly once; each problem is reported. `list` (a verification's list
// identity) must match every file's.
bool gather(const std::vector<std::wstring>& paths, bool creation, const run_settings& settings,
            const std::string& list, reporter& report, merge_inputs& out) {
    const std::string type = [&] {
        std::string word;
        (void)platform::narrow(type_row(settings.type).word, word);
        return word;
    }();
    bool fine = true;
    out.shards.resize(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        merge_problem problem{merge_issue::damaged};
        shard_file& file = out.shards[i];
        if (!read_shard_file(paths[i], file, problem)) {
            report.merge_refused(problem);
            fine = false;
            continue;
        }
        out.earliest = std::min(out.earliest, file.started);
        merge_problem conflict{merge_issue::other_kind, file.path.c_str(), file.index, file.count};
        conflict.line = out.shards[0].count;
        if (conflicts(file, out.shards[0], creation, type, conflict.what) ||
            file.update != settings.update || (!creation && file.list != list)) {
            const bool other_kind = file.creation != creation || file.update != settings.update;
            conflict.what = other_kind || conflict.what != merge_issue::other_kind
                                ? conflict.what
                                : merge_issue::other_list;
            conflict.other = settings.checksum_file.c_str();
            report.merge_refused(conflict);
            fine = false;
        }
    }
    if (!fine) {
        return false;
    }
    std::sort(out.shards.begin(), out.shards.end(),
              [](const shard_file& a, const shard_file& b) { return a.index < b.index; });
    const std::uint32_t count = out.shards[0].count;
    std::size_t at = 0;
    for (std::uint32_t index = 1; index <= count; ++index) {
        if (at >= out.shards.size() || out.shards[at].index != index) {
            report.merge_refused({merge_issue::missing, nullptr, index, count});
            fine = false;
            continue;
        }
        for (++at; at < out.shards.size() && out.shards[at].index == index; ++at) {
            report.merge_refused({merge_issue::duplicate, out.shards[at].path.c_str(), index, count,
                                  0, status::ok, out.shards[at - 1].path.c_str()});
            fine = false;
        }
    }
    return fine;
}

// Reads a shard's file from its first record on.
class record_source {
  public:
    [[nodiscard]] bool open(const shard_file& file) {
        if (reader_.open(file.path) != 0) {
            return false;
        }
        std::string_view line;
        while (reader_.next(line)) {
            if (line.starts_with("e ") || line.starts_with("f ") || line.starts_with("a ") ||
                line.starts_with("u ") || line.starts_with("end ")) {
                pending_ = line;
                return true;
            }
        }
        return false;
    }
    // The next entry or created file; false at the audit's lines or the end.
    bool next(bool creation, std::size_t digest_size, record_line& out) {
        if (pending_.starts_with("end ") || pending_.starts_with("u ")) {
            return false;
        }
        const bool parsed = parse_record(pending_, creation, digest_size, out);
        advance();
        return parsed;
    }
    // An update shard's next line; false at the end.
    bool next_update(std::size_t digest_size, update_line& out) {
        if (pending_.starts_with("end ")) {
            return false;
        }
        const bool parsed = parse_update_line(pending_, digest_size, out);
        advance();
        return parsed;
    }
    bool at_end() const { return pending_.starts_with("end "); }
    // The next file an audit found unlisted; false at the end.
    bool next_unlisted(std::uint64_t& place, std::wstring& name) {
        if (!pending_.starts_with("u ")) {
            return false;
        }
        const bool parsed = parse_unlisted(pending_, place, name);
        advance();
        return parsed;
    }

  private:
    void advance() {
        std::string_view line;
        pending_ = reader_.next(line) ? line : std::string_view("end ");
    }

  public:
  private:
    results_reader reader_;
    std::string_view pending_;
};

struct verification_merge {
    const run_settings& settings;
    reporter& report;
    container& list;
    std::vector<record_source> sources;
    std::size_t digest_size;
    bool remember;
    std::vector<std::uint64_t> ends;  // where each shard's entries end
    verification_tally tally;
    record_line record;

    // One entry, judged by what its shard found.
    [[nodiscard]] bool judge(const wchar_t* path, const unsigned char* expected,
                             std::uint64_t index, std::uint32_t owner) {
        if (!sources[owner - 1].next(false, digest_size, record) || record.place != index) {
            return false;
        }
        const entry_facts facts{path, expected, list.entryRecord(), list.irregularChecksumLine()};
        if (facts.irregular_line != 0) {
            report.irregular_checksum(facts.irregular_line);
        }
        ++tally.entries;
        if (record.spared) {
            judge_spared(report, list, facts, tally, remember);
            return true;
        }
        const hashed_file file{record.result, record.digest, record.size, record.time};
        report.file_started(path);
        const bool said = !(file.result == status::file_not_found && settings.ignore_missing);
        if (said) {
            report.file_hashed(path);
        }
        if (said && file.result != status::ok) {
            report_file_error(report, path, file.result);
        }
        judge_hashed(report, list, facts, file, digest_size, tally, settings, remember);
        return true;
    }
};

// Fewer shard records than the list has entries, or others: the shards
// checked another list than this one reads as.
int records_disagree(reporter& report, const shard_file& file, const run_settings& settings) {
    merge_problem problem{merge_issue::other_list, file.path.c_str(), file.index, file.count};
    problem.other = settings.checksum_file.c_str();
    report.merge_refused(problem);
    return merge_refused_status;
}

// The list's entries, each judged by its shard's record of it, in list
// order; the lines that are no entries as a single run says them.
[[nodiscard]] status read_entries(verification_merge& merge, wchar_t* buffer, std::size_t prefix,
                                  const std::vector<shard_file>& shards) {
    const run_settings& settings = merge.settings;
    container& list = merge.list;
    wchar_t* name = buffer + prefix;
    const int room = static_cast<int>(path_buffer_units - prefix);
    unsigned char expected[128];
    std::uint64_t index = 0;
    std::size_t owner = 0;
    for (;;) {
        std::uint64_t size = 0;
        const int got = list.getNextFile(name, room, &size, expected);
        if (got == to_int(status::outside_signed_text)) {
            file_outcome outcome;
            outcome.path = name;
            outcome.what = verdict::outside_signed_text;
            merge.report.file_done(outcome);
            ++merge.tally.outside;
            continue;
        }
        if (got == to_int(status::invalid_line) && settings.check_flags()) {
            ++merge.tally.improper;
            if (settings.warn) {
                merge.report.improper_line(settings.checksum_file.c_str(), list.lineNumber());
            }
            continue;
        }
        if (got <= 0) {
            if (got < 0) {
                merge.report.list_failed(list_step::read, settings.checksum_file.c_str(),
                                         from_int(got));
                ++merge.tally.errors;
            }
            // Records the list has no entries for: not the list they checked.
            const bool all_judged = merge.ends.empty() || index == merge.ends.back();
            return all_judged ? status::ok
                              : from_int(records_disagree(merge.report, shards.back(), settings));
        }
        resolve_windows_separators(buffer, name);
        // The shards' runs tile the entries in shard order.
        while (owner < shards.size() && index >= merge.ends[owner]) {
            ++owner;
        }
        if (owner == shards.size() || !merge.judge(buffer, expected, index++, owner + 1)) {
            const shard_file& blamed = shards[std::min(owner, shards.size() - 1)];
            return from_int(records_disagree(merge.report, blamed, settings));
        }
    }
}

// The files the shards' audits found unlisted, in the order of the walk;
// none when not one listed file was found, which says the names resolve in
// the wrong place.
void merge_unlisted(verification_merge& merge, const std::vector<shard_file>& shards) {
    verification_tally& tally = merge.tally;
    if (tally.entries > 0 && tally.missing == tally.entries) {
        merge.report.audit_refused(merge.settings.checksum_file.c_str());
        return;
    }
    struct head {
        std::uint64_t place;
        std::wstring name;
    };
    std::vector<head> heads(shards.size());
    std::vector<bool> more(shards.size());
    for (std::size_t i = 0; i < shards.size(); ++i) {
        more[i] = merge.sources[i].next_unlisted(heads[i].place, heads[i].name);
    }
    for (;;) {
        std::size_t first = shards.size();
        for (std::size_t i = 0; i < shards.size(); ++i) {
            if (more[i] && (first == shards.size() || heads[i].place < heads[first].place)) {
                first = i;
            }
        }
        if (first == shards.size()) {
            return;
        }
        merge.report.file_not_listed(heads[first].name.c_str());
        ++tally.unlisted;
        more[first] = merge.sources[first].next_unlisted(heads[first].place, heads[first].name);
    }
}

// Where each shard's entries end, when they go on where the previous
// shard's ended; otherwise the first shard that does not, in `odd`.
std::vector<std::uint64_t> entry_ends(const std::vector<shard_file>& shards,
                                      const shard_file*& odd) {
    std::vector<std::uint64_t> ends;
    std::uint64_t next = 0;
    odd = nullptr;
    for (const shard_file& file : shards) {
        if (file.entry_records != 0 && file.first != next) {
            odd = &file;
            return {};
        }
        next += file.entry_records;
        ends.push_back(next);
    }
    return ends;
}

// The shards' files of a verification or an update of the list, read and
// checked against the list's bytes; 0, or the exit status (said).
int gather_for_list(const run_settings& settings, reporter& report, merge_inputs& inputs) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    std::string identity;
    std::uint64_t size = 0;
    if (const status result = list_identity(list_name, identity, size); result != status::ok) {
        report.list_failed(list_step::open, list_name, result);
        return to_int(result);
    }
    // The list is the first file argument, unless --update=LIST named it.
    const std::vector<std::wstring> paths(
        settings.merge_inputs.begin() + (settings.update_list_named ? 0 : 1),
        settings.merge_inputs.end());
    const std::string list = identity + ' ' + std::to_string(size);
    return gather(paths, false, settings, list, report, inputs) ? 0 : merge_refused_status;
}

int merge_verification(const run_settings& settings, reporter& report, container& list,
                       expansion_state& state) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    merge_inputs inputs;
    if (const int refused = gather_for_list(settings, report, inputs); refused != 0) {
        return refused;
    }
    status result = status::ok;
    const shard_file* odd = nullptr;
    std::vector<std::uint64_t> ends = entry_ends(inputs.shards, odd);
    if (odd != nullptr) {
        return records_disagree(report, *odd, settings);
    }
    verification_merge merge{settings,
                             report,
                             list,
                             std::vector<record_source>(inputs.shards.size()),
                             static_cast<std::size_t>(type_row(settings.type).digest_size),
                             true,
                             std::move(ends),
                             {},
                             {}};
    for (std::size_t i = 0; i < inputs.shards.size(); ++i) {
        if (!merge.sources[i].open(inputs.shards[i])) {
            return records_disagree(report, inputs.shards[i], settings);
        }
    }
    report.run_started(
        {run_kind::verification, list_name, settings.type, settings.type_from_content});
    wchar_t* buffer = state.path_buffer;
    std::size_t prefix = 0;
    result = open_for_run(settings, report, list, buffer, prefix);
    if (result != status::ok) {
        return to_int(result);
    }
    const std::string folder = list.namesFolderCode();
    for (const shard_file& file : inputs.shards) {
        if (merge.remember && file.folder != folder) {
            merge.remember = false;
            report.merge_refused(
                {merge_issue::folder_differs, file.path.c_str(), file.index, file.count});
        }
    }
    sfv* const tagged = dynamic_cast<sfv*>(&list);
    if (tagged != nullptr) {
        // What the shards found holds since the earliest of them started.
        tagged->stampTagNoLaterThan(inputs.earliest);
        if (!merge.remember) {
            tagged->leaveTagUnwritten();
        }
    }
    result = read_entries(merge, buffer, prefix, inputs.shards);
    if (result != status::ok) {
        return to_int(result);
    }
    if (inputs.shards[0].audit) {
        merge_unlisted(merge, inputs.shards);
    }
    std::wstring untrusted;
    for (const shard_file& file : inputs.shards) {
        untrusted = untrusted.empty() ? file.untrusted : untrusted;
    }
    forget_failure_cause();
    result = from_int(list.close());
    if (result != status::ok) {
        report.list_failed(list_step::save, list_name, result);
    }
    return report_summary(report, settings, merge.tally, untrusted, merge.remember);
}

// The parts' files in the order of the walk all shards made.
int merge_creation(const run_settings& settings, reporter& report, container& list,
                   const entry_adder& add_entry) {
    merge_inputs inputs;
    if (!gather(settings.merge_inputs, true, settings, {}, report, inputs)) {
        return merge_refused_status;
    }
    const auto digest_size = static_cast<std::size_t>(type_row(settings.type).digest_size);
    std::vector<record_source> sources(inputs.shards.size());
    std::vector<record_line> heads(inputs.shards.size());
    // The part whose next file comes first in the walk, on top.
    auto later = [&heads](std::size_t a, std::size_t b) { return heads[a].place > heads[b].place; };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> order(later);
    for (std::size_t i = 0; i < sources.size(); ++i) {
        if (!sources[i].open(inputs.shards[i])) {
            report.merge_refused({merge_issue::unreadable, inputs.shards[i].path.c_str(), 0, 0, 0,
                                  status::file_read_error});
            return merge_refused_status;
        }
        if (sources[i].next(true, digest_size, heads[i])) {
            order.push(i);
        }
    }
    const wchar_t* target = settings.creation_target.c_str();
    report.run_started({run_kind::creation, target, settings.type});
    forget_failure_cause();
    status result = from_int(list.create(target));
    if (result != status::ok) {
        report.list_failed(list_step::create, target, result);
        return to_int(result);
    }
    while (!order.empty()) {
        const std::size_t at = order.top();
        order.pop();
        const record_line& file = heads[at];
        report.file_started(file.path.c_str());
        report.file_hashed(file.path.c_str());
        result = add_hashed(report, add_entry, file.path.c_str(), {file.digest, digest_size},
                            file.size, file.time);
        if (result != status::ok) {
            return to_int(result);
        }
        if (sources[at].next(true, digest_size, heads[at])) {
            order.push(at);
        }
    }
    forget_failure_cause();
    result = from_int(list.close());
    if (result != status::ok) {
        report.list_failed(list_step::save, target, result);
    }
    return to_int(result);
}

// An update's merge: the entries of the list in order, each as its shard
// found it, then the shards' new files in walk order, then the list written
// as one update writes it.
struct update_merge {
    update_merge(const run_settings& settings_, reporter& report_, container& list_,
                 const entry_adder& add, std::vector<record_source>& sources_,
                 const std::vector<shard_file>& shards_)
        : settings(settings_),
          report(report_),
          list(list_),
          add_entry(add),
          sources(sources_),
          shards(shards_),
          digest_size(static_cast<std::size_t>(type_row(settings_.type).digest_size)) {}

    const run_settings& settings;
    reporter& report;
    container& list;
    const entry_adder& add_entry;
    std::vector<record_source>& sources;
    const std::vector<shard_file>& shards;
    std::size_t digest_size;
    std::int64_t first_present = -1;  // of all the shards
    std::vector<std::wstring> gone_first;
    std::vector<update_line> heads;
    std::vector<bool> more;
    int failed = 0;
    int changed = 0;
    int dropped = 0;

    void tell_gone(const std::wstring& listed) {
        report.entry_updated(listed.c_str(), settings.prune ? update_verdict::removed
                                                            : update_verdict::missing_kept);
    }

    // A hashing failure or a file left out, as the shard's own run said it.
    void tell_failure(const update_line& line, const wchar_t* path) {
        if (line.what == 'l') {
            report_left_out(report, path, static_cast<file_jobs::left_out>(line.code));
        } else {
            report_file_error(report, path, from_int(-static_cast<int>(line.code)));
            ++failed;
        }
    }

    [[nodiscard]] status hashed(const update_line& line, const wchar_t* name,
                                std::uint64_t position) {
        if (position != ~std::uint64_t{0} && list.replaceEntry(position) != 0) {
            return status::unknown_error;
        }
        const status entered = from_int(add_entry(name, line.digest, line.size, line.time));
        if (entered != status::ok) {
            report.update_refused(settings.checksum_file.c_str(), entered);
            return entered;
        }
        report.entry_updated(
            name, position != ~std::uint64_t{0} ? update_verdict::updated : update_verdict::added);
        ++changed;
        return status::ok;
    }

    // The entry at `index`, which the shard `owner` judged or kept.
    [[nodiscard]] status entry(std::int64_t index, std::size_t owner, const std::wstring& listed,
                               const wchar_t* path) {
        if (index == first_present) {
            for (const std::wstring& gone : gone_first) {
                tell_gone(gone);
            }
            gone_first.clear();
        }
        update_line& line = heads[owner];
        if (!more[owner] || line.added || static_cast<std::int64_t>(line.place) != index) {
            return status::ok;  // unchanged, or not looked at: kept
        }
        const std::uint64_t position = list.entryPosition();
        status result = status::ok;
        if (line.what == 'g') {
            if (settings.prune) {
                result = from_int(list.dropEntry(position, listed.c_str()));
                ++dropped;
            }
            if (first_present < 0 || index < first_present) {
                gone_first.push_back(listed);
            } else {
                tell_gone(listed);
            }
        } else if (line.what == 'x') {
            report_file_error(report, path, from_errno(static_cast<int>(line.code)));
            ++failed;
        } else if (line.what == 'h') {
            result = hashed(line, listed.c_str(), position);
        } else {
            tell_failure(line, path);
        }
        more[owner] = sources[owner].next_update(digest_size, line);
        return result;
    }

    // The shards' new files, in the order of the walk.
    [[nodiscard]] status new_files() {
        for (;;) {
            std::size_t first = heads.size();
            for (std::size_t i = 0; i < heads.size(); ++i) {
                if (more[i] && heads[i].added &&
                    (first == heads.size() || heads[i].place < heads[first].place)) {
                    first = i;
                }
            }
            if (first == heads.size()) {
                return status::ok;
            }
            const update_line& line = heads[first];
            if (line.what == 'h') {
                if (status result = hashed(line, line.name.c_str(), ~std::uint64_t{0});
                    result != status::ok) {
                    return result;
                }
            } else {
                tell_failure(line, line.path.c_str());
            }
            more[first] = sources[first].next_update(digest_size, heads[first]);
        }
    }
};

// Where each update shard's entries end, when their runs follow each other
// from the first entry on; otherwise the first shard whose run does not.
std::vector<std::uint64_t> update_ends(const std::vector<shard_file>& shards,
                                       const shard_file*& odd) {
    std::vector<std::uint64_t> ends;
    std::int64_t next = 0;
    odd = nullptr;
    for (const shard_file& file : shards) {
        if (file.range_first >= 0 && file.range_first != next) {
            odd = &file;
            return {};
        }
        next = file.range_first >= 0 ? file.range_end : next;
        ends.push_back(static_cast<std::uint64_t>(next));
    }
    return ends;
}

[[nodiscard]] status update_entries(update_merge& merge, const std::vector<std::uint64_t>& ends,
                                    wchar_t* buffer, std::size_t prefix, std::int64_t& entries) {
    wchar_t* name = buffer + prefix;
    const int room = static_cast<int>(path_buffer_units - prefix);
    unsigned char digest[128];
    std::size_t owner = 0;
    for (;;) {
        std::uint64_t size = 0;
        const int read = merge.list.getNextFile(name, room, &size, digest);
        if (read < 0) {
            merge.report.list_failed(list_step::read, merge.settings.checksum_file.c_str(),
                                     from_int(read));
            return from_int(read);
        }
        if (read == 0) {
            break;
        }
        const std::wstring listed = name;
        resolve_windows_separators(buffer, name);
        const std::int64_t index = entries++;
        while (owner < ends.size() && static_cast<std::uint64_t>(index) >= ends[owner]) {
            ++owner;
        }
        if (owner == ends.size()) {
            return status::invalid_line;  // entries no shard had: not the list they read
        }
        if (status result = merge.entry(index, owner, listed, buffer); result != status::ok) {
            return result;
        }
    }
    return ends.empty() || static_cast<std::uint64_t>(entries) == ends.back()
               ? status::ok
               : status::invalid_line;
}

int merge_update(const run_settings& settings, reporter& report, container& list,
                 const entry_adder& add_entry, expansion_state& state) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    merge_inputs inputs;
    if (const int refused = gather_for_list(settings, report, inputs); refused != 0) {
        return refused;
    }
    status result = status::ok;
    const shard_file* odd = nullptr;
    const std::vector<std::uint64_t> ends = update_ends(inputs.shards, odd);
    std::vector<record_source> sources(inputs.shards.size());
    for (std::size_t i = 0; odd == nullptr && i < sources.size(); ++i) {
        odd = sources[i].open(inputs.shards[i]) ? nullptr : &inputs.shards[i];
    }
    if (odd != nullptr) {
        return records_disagree(report, *odd, settings);
    }
    update_merge merge(settings, report, list, add_entry, sources, inputs.shards);
    for (const shard_file& file : inputs.shards) {
        merge.first_present = merge.first_present < 0 ? file.first_present : merge.first_present;
    }
    merge.heads.resize(sources.size());
    merge.more.resize(sources.size());
    for (std::size_t i = 0; i < sources.size(); ++i) {
        merge.more[i] = sources[i].next_update(merge.digest_size, merge.heads[i]);
    }
    report.run_started({run_kind::update, list_name, settings.type});
    std::size_t prefix = 0;
    result = open_for_run(settings, report, list, state.path_buffer, prefix);
    if (result != status::ok) {
        return to_int(result);
    }
    if (result = from_int(list.beginUpdate()); result != status::ok) {
        report.update_refused(list_name, result);
        return to_int(result);
    }
    std::int64_t entries = 0;
    result = update_entries(merge, ends, state.path_buffer, prefix, entries);
    if (result == status::invalid_line) {
        return records_disagree(report, inputs.shards.back(), settings);
    }
    if (result != status::ok) {
        return to_int(result);
    }
    if (entries > 0 && merge.first_present < 0) {
        // The wrong folder, or a volume not mounted: the list stays.
        report.update_refused(list_name, status::file_not_found);
        return to_int(status::file_not_found);
    }
    if (result = merge.new_files(); result != status::ok) {
        return to_int(result);
    }
    return commit_update(settings, report, list, merge.failed > 0 ? 1 : 0,
                         merge.changed + merge.dropped > 0);
}

}  // namespace

bool check_shard_file(const std::wstring& path, merge_problem& problem) {
    shard_file file;
    return read_shard_file(path, file, problem);
}

void take_merge_list(run_settings& settings) {
    if (settings.has_target || settings.merge_inputs.empty() || settings.update_list_named) {
        return;  // --update=LIST named the list already
    }
    settings.has_checksum_file = true;
    settings.checksum_file = settings.merge_inputs.front();
    if (const int type = type_from_name(settings.checksum_file.c_str());
        !settings.type_forced && type != -1) {
        settings.type = type;
    }
}

int merge_run(const run_settings& settings, reporter& report, container& list,
              const entry_adder& add_entry, expansion_state& state) {
    if (settings.has_target) {
        return merge_creation(settings, report, list, add_entry);
    }
    if (settings.update) {
        return merge_update(settings, report, list, add_entry, state);
    }
    return merge_verification(settings, report, list, state);
}

}  // namespace korvane::app
