#include "runs.h"

#include <korvane/config.h>
#include <korvane/container.h>
#include <korvane/jobs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "audit.h"
#include "entries.h"
#include "jobs.h"
#include "merge.h"
#include "output.h"
#include "platform/fileops.h"
#include "platform/fs.h"
#include "report.h"
#include "shard_results.h"
#include "spill.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

// The size of a file that is taking a while, for the progress line's bytes;
// the worker has it open already, so a look at it costs no seek.
void tell_size(const wchar_t* path, reporter& report) {
    platform::file_info info;
    if (platform::get_file_info(path, info) == 0 && info.is_regular) {
        report.file_measured(info.size);
    }
}

// Waits for the oldest file in flight, reporting its percentage when the
// reporter wants it. The first wait is long so that quick files show only
// their final line.
// Whether the oldest file, done, is one whose outcome the run says: not one
// left out (its caller's to tell), nor a missing one the run leaves unsaid.
bool outcome_said(const file_jobs& jobs, bool say_missing) {
    return jobs.oldest_left_out() == file_jobs::left_out::none &&
           (say_missing || from_int(jobs.oldest_status()) != status::file_not_found);
}

void wait_for_file(file_jobs& jobs, const wchar_t* path, reporter& report, bool say_missing) {
    report.file_started(path);
    if (!report.wants_progress()) {
        jobs.wait_oldest(-1);
        if (outcome_said(jobs, say_missing)) {
            report.file_hashed(path);
        }
        return;
    }
    // A progress line of the whole run shows the file from the start; lines
    // of their own only for a file that takes a while.
    const bool frequent = report.wants_frequent_progress();
    int shown = -1;
    int timeout_ms = frequent ? 100 : 3000;
    bool measured = false;
    while (!jobs.wait_oldest(timeout_ms)) {
        timeout_ms = frequent ? 100 : 500;
        if (frequent && !measured) {
            measured = true;
            tell_size(path, report);
        }
        int percent = jobs.oldest_percent();
        if (percent != shown) {
            report.file_progress(path, percent);
            shown = percent;
        }
    }
    if (outcome_said(jobs, say_missing)) {
        report.file_hashed(path);  // a file left out was never hashed
    }
}

// What the walk found that the list must not take in: its own previous self,
// however the walk reached it (another spelling of the path, a link).
struct creation_target {
    const wchar_t* path;
    bool exists;
    platform::file_info info;

    // A file nobody looked at has no identity yet: the workers compare it.
    bool is(const path_record& record) const {
        return std::wcscmp(record.text, path) == 0 ||
               (exists && record.look == examination::done && record.device == info.device &&
                record.inode == info.inode);
    }
};

// A file that the process had no descriptor or memory for, although no other
// file was open: the run cannot go on.
void report_shortage(reporter& report, const wchar_t* path, int shortage) {
    report.run_halted(
        path, shortage == ENOMEM ? halt_reason::out_of_memory : halt_reason::out_of_descriptors);
}

// Bytes of a digest of the list type.
std::size_t digest_size_for(int type) {
    return static_cast<std::size_t>(type_row(type).digest_size);
}
constexpr std::size_t stored_digest_bytes = 128;

// Entries are read ahead of the one reported and their files handed to the
// workers; each keeps its own copy of its path and stored digest until its
// result has been reported, in list order.
struct pending_entry {
    wchar_t path[path_buffer_units];
    unsigned char digest[stored_digest_bytes];
    bool hashed;
    bool outside;                  // a line outside the signed text: shown, never checked
    bool improper;                 // an improperly formatted line (check flags): said with --warn
    std::uint64_t line;            // improper: its number
    file_record record;            // the file's size and time as the list records them
    std::uint64_t irregular_line;  // see container::irregularChecksumLine
    std::int64_t index;            // among the list's entries, from 0
};

// What an audit gathers while the entries are read: the key of every name.
struct audit_gathering {
    audit_scope scope;
    listed_names names;
    std::string key;
    bool out_of_memory = false;

    void add(const wchar_t* resolved) {
        try {
            name_key(resolved, scope.current_key, key);
        } catch (const std::bad_alloc&) {
            out_of_memory = true;
            return;
        }
        out_of_memory = out_of_memory || !names.add(key);
    }
};

struct reading_ahead {
    audit_gathering* audit = nullptr;
    reporter* report = nullptr;  // told of every entry read, for the progress line
    const run_settings& settings;
    container& list;
    file_jobs& jobs;
    const verified_query& previously_verified;
    wchar_t* buffer;
    wchar_t* name;
    int room;
    std::size_t ring;
    std::unique_ptr<pending_entry[]> pending;
    std::size_t oldest = 0;
    std::size_t queued = 0;
    // Entries read so far: the place of the next in the list, whichever
    // entries this run reports.
    std::int64_t entries_read = 0;
    list_shard* shard = nullptr;
    bool list_ended = false;
    status list_error = status::ok;

    reading_ahead(const run_settings& settings_, container& list_, file_jobs& jobs_,
                  const verified_query& previously_verified_, wchar_t* buffer_, std::size_t prefix)
        : settings(settings_),
          list(list_),
          jobs(jobs_),
          previously_verified(previously_verified_),
          buffer(buffer_),
          name(buffer_ + prefix),
          room(static_cast<int>(path_buffer_units - prefix)),
          ring(jobs_.capacity()),
          pending(new pending_entry[ring]) {}

    // Refills the ring in batches, so that idle workers are woken for several
    // files at once rather than for each one.
    void top_up(verification_tally& tally) {
        if (list_ended || queued - oldest > ring * 3 / 4) {
            return;
        }
        while (!list_ended && queued - oldest < ring) {
            read_entry(tally);
        }
        if (list_ended) {
            report->files_all_counted();
        }
        jobs.publish();
    }

    void read_entry(verification_tally& tally) {
        unsigned char expected[stored_digest_bytes];
        std::uint64_t size = 0;
        int result = list.getNextFile(name, room, &size, expected);
        // The lines that are no entries are the first shard's to report.
        const bool lines_are_mine = shard == nullptr || shard->index == 1;
        if (result == to_int(status::outside_signed_text) && !lines_are_mine) {
            return;
        }
        if (result == to_int(status::invalid_line) && settings.check_flags() && !lines_are_mine) {
            return;
        }
        if (result == to_int(status::outside_signed_text)) {
            // Reported in its place among the entries; the list goes on.
            pending_entry& line = pending[queued % ring];
            std::wmemcpy(line.path, name, std::wcslen(name) + 1);
            line.hashed = false;
            line.outside = true;
            line.improper = false;
            report->files_counted(1, 0, true);
            ++queued;
            return;
        }
        if (result == to_int(status::invalid_line) && settings.check_flags()) {
            // As the GNU tools check: skipped and counted, the entries after
            // it verified; with --warn said in its place among the entries.
            ++tally.improper;
            if (settings.warn) {
                pending_entry& line = pending[queued % ring];
                line.hashed = false;
                line.outside = false;
                line.improper = true;
                line.line = list.lineNumber();
                ++queued;
            }
            return;
        }
        if (result <= 0) {
            list_ended = true;
            list_error = from_int(result);
            return;
        }
        resolve_windows_separators(buffer, name);
        if (audit != nullptr) {
            audit->add(buffer);
        }
        const std::int64_t index = entries_read++;
        if (shard != nullptr) {
            const std::uint32_t owner = shard->split.next(list.entryRecord().size);
            // The shards' entries follow each other: past this one's, only an
            // audit needs the rest of the names.
            list_ended = owner > shard->index && audit == nullptr;
            if (owner != shard->index) {
                return;  // another shard's: not even looked at
            }
        }
        pending_entry& entry = pending[queued % ring];
        entry.index = index;
        std::wmemcpy(entry.path, buffer, std::wcslen(buffer) + 1);
        std::memcpy(entry.digest, expected, sizeof expected);
        entry.record = list.entryRecord();
        entry.irregular_line = list.irregularChecksumLine();
        // Asked now, while the list stands at this entry. Only a plain yes
        // spares the file: a failed query (a negative status) is no yes.
        entry.hashed = settings.doall || previously_verified(index, entry.path) != 1;
        entry.outside = false;
        entry.improper = false;
        ++tally.entries;
        if (entry.hashed) {
            jobs.submit(entry.path);
        }
        // A file spared or without a record of its size: nothing, or an
        // unknown number of bytes to read.
        report->files_counted(1, entry.hashed ? entry.record.size : 0,
                              !entry.hashed || entry.record.clock != record_clock::none);
        ++queued;
    }
};

// Marks the entry just reported for the next run. A mark that cannot be kept
// costs that run a fresh check of the file and changes no verdict of this one.
void remember_verdict(container& list, bool verified, bool remember) {
    if (remember) {
        (void)list.setPreviouslyVerified(verified);
    }
}

// Whether a file that does not match was edited or damaged: damaged when its
// size and time are still those its list records (nobody saved it since),
// changed otherwise; unsaid without a record or a time of the file.
void diagnose(file_outcome& outcome, const file_record& record, const hashed_file& file,
              verification_tally& tally) {
    if (file.write_time == 0) {
        return;
    }
    switch (container::compareRecord(record, file.size, file.write_time)) {
        case record_match::unchanged:
            outcome.diagnosis = mismatch_cause::damaged;
            ++tally.damaged;
            break;
        case record_match::changed:
            outcome.diagnosis = mismatch_cause::changed;
            outcome.write_time = file.write_time;
            break;
        case record_match::nothing_recorded:
            break;
    }
}

// The line a shard's results keep of an entry: its place, and what became of
// its file (or that it was spared).
[[nodiscard]] status note_result(list_shard* shard, std::int64_t index, const hashed_file* file,
                                 std::size_t digest_size) {
    if (shard == nullptr || shard->results == nullptr) {
        return status::ok;
    }
    std::string line = "e " + std::to_string(index);
    if (file == nullptr) {
        line += " p";
    } else {
        line += ' ' + std::to_string(-to_int(file->result)) + ' ' + std::to_string(file->size) +
                ' ' + std::to_string(file->write_time) + ' ' +
                (file->result == status::ok ? hex_of(file->digest, digest_size) : "-");
    }
    ++shard->records;
    return shard->results->line(line);
}

// Reports the outcome of the oldest entry read; only a failure of the workers
// themselves ends the run.
[[nodiscard]] status report_entry(reporter& report, container& list, file_jobs& jobs,
                                  const pending_entry& entry, std::size_t digest_size,
                                  verification_tally& tally, const run_settings& settings,
                                  list_shard* shard) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    if (entry.improper) {
        report.improper_line(list_name, entry.line);
        return status::ok;
    }
    if (entry.outside) {
        file_outcome outcome;
        outcome.path = entry.path;
        outcome.what = verdict::outside_signed_text;
        report.file_done(outcome);
        ++tally.outside;
        return status::ok;
    }
    const bool remember = shard == nullptr;
    const entry_facts facts{entry.path, entry.digest, entry.record, entry.irregular_line};
    if (entry.irregular_line != 0) {
        report.irregular_checksum(entry.irregular_line);
    }
    if (!entry.hashed) {
        judge_spared(report, list, facts, tally, remember);
        return note_result(shard, entry.index, nullptr, digest_size);
    }
    hashed_file file;
    // --ignore-missing: a missing file is neither said nor counted.
    if (!finish_oldest(jobs, entry.path, report, file.result, true, !settings.ignore_missing)) {
        return status::unknown_error;
    }
    if (file.result == status::ok) {
        file.digest = jobs.oldest_digest();
        file.size = jobs.oldest_size();
    }
    file.write_time = file.result == status::ok ? jobs.oldest_write_time() : 0;
    judge_hashed(report, list, facts, file, digest_size, tally, settings, remember);
    const status noted = note_result(shard, entry.index, &file, digest_size);
    jobs.pop();
    return noted;
}

}  // namespace

void judge_spared(reporter& report, container& list, const entry_facts& entry,
                  verification_tally& tally, bool remember) {
    file_outcome outcome;
    outcome.path = entry.path;
    outcome.what = verdict::previously_verified;
    report.file_done(outcome);
    remember_verdict(list, true, remember);
    ++tally.matched;
}

void judge_hashed(reporter& report, container& list, const entry_facts& entry,
                  const hashed_file& file, std::size_t digest_size, verification_tally& tally,
                  const run_settings& settings, bool remember) {
    if (file.result != status::ok) {
        if (file.result == status::file_not_found && settings.ignore_missing) {
            --tally.entries;
            ++tally.ignored;
        } else if (file.result == status::file_not_found) {
            ++tally.missing;
        } else {
            ++tally.errors;
        }
        remember_verdict(list, false, remember);
        return;
    }
    file_outcome outcome;
    outcome.path = entry.path;
    outcome.expected = {entry.expected, digest_size};
    outcome.actual = {file.digest, digest_size};
    outcome.size = file.size;
    const bool verified = std::memcmp(file.digest, entry.expected, digest_size) == 0;
    outcome.what = verified ? verdict::ok : verdict::mismatch;
    tally.errors += verified ? 0 : 1;
    tally.mismatches += verified ? 0 : 1;
    tally.matched += verified ? 1 : 0;
    if (!verified) {
        diagnose(outcome, entry.record, file, tally);
    }
    report.file_done(outcome);
    remember_verdict(list, verified, remember);
}

// Adds a hashed file to the list; an entry left out would pass the list off
// as complete, so a failure ends the run.
status add_hashed(reporter& report, const entry_adder& add_entry, const wchar_t* path,
                  digest_bytes digest, std::uint64_t size, std::uint64_t write_time) {
    const status result = from_int(add_entry(path, digest.bytes, size, write_time));
    file_outcome outcome;
    outcome.path = path;
    outcome.what = result == status::ok ? verdict::added : verdict::not_added;
    outcome.cause = result;
    outcome.actual = digest;
    outcome.size = size;
    report.file_done(outcome);
    return result;
}

int report_summary(reporter& report, const run_settings& settings, verification_tally& tally,
                   const std::wstring& untrusted, bool may_mark) {
    // Every entry missing (or none verifying): a run that checked nothing
    // must not pass for one that found every file intact.
    tally.nothing_verified =
        settings.ignore_missing && tally.matched == 0 && tally.entries + tally.ignored > 0;
    tally.improper_fails = settings.strict && tally.improper > 0;
    report.summary(tally, untrusted.empty() ? nullptr : untrusted.c_str());
    if (tally.nothing_verified) {
        report.nothing_verified(settings.checksum_file.c_str());
    }
    if (tally.errors > 0 || tally.missing > 0 || tally.outside > 0 || tally.unlisted > 0 ||
        tally.nothing_verified || tally.improper_fails) {
        return 1;
    }
    if (may_mark && static_cast<bool>((*config::instance())["addtag"])) {
        (void)platform::create_marker_file(L"_Verified_");  // a failure is of no consequence
    }
    return 0;
}

namespace {

[[nodiscard]] status start_audit(const run_settings& settings, reporter& report,
                                 std::unique_ptr<audit_gathering>& audit) {
    audit.reset(new (std::nothrow) audit_gathering);
    if (audit == nullptr) {
        report.out_of_memory();
        return status::unknown_error;
    }
    int error = 0;
    if (!audit_scope_of(settings, audit->scope, error)) {
        report.list_failed(list_step::open, L".", from_errno(error));
        return from_errno(error);
    }
    return status::ok;
}

// After the entries: the folder is walked for the files the list does not
// name, unless not one listed file was found, which says the names resolve
// in the wrong place (every file would be reported, none of them rightly).
[[nodiscard]] status finish_audit(const run_settings& settings, reporter& report,
                                  audit_gathering& audit, verification_tally& tally,
                                  expansion_state& state, list_shard* shard) {
    if (audit.out_of_memory) {
        report.out_of_memory();
        return status::unknown_error;
    }
    if (shard != nullptr) {
        // Whether the names resolve in the wrong place is for the merge to
        // judge, from every shard's entries: this shard reports and keeps
        // the files of its own that the list lacks, with their places.
        walk_shard walk{shard->index, shard->count};
        const unlisted_handler keep = [&](const wchar_t*, std::wstring_view relative) {
            const std::wstring name(relative);
            report.file_not_listed(name.c_str());
            if (shard->results == nullptr) {
                return status::ok;
            }
            ++shard->records;
            return shard->results->line("u " + std::to_string(walk.place) + ' ' +
                                        encode_text(name));
        };
        return walk_unlisted(audit.scope, audit.names, settings, state, report, keep,
                             tally.unlisted, &walk);
    }
    if (tally.entries > 0 && tally.missing == tally.entries) {
        report.audit_refused(settings.checksum_file.c_str());
        return status::ok;  // the summary counts the missing files
    }
    return audit_folder(audit.scope, audit.names, settings, state, report, tally.unlisted);
}

}  // namespace

void report_left_out(reporter& report, const wchar_t* path, file_jobs::left_out why) {
    if (why == file_jobs::left_out::unreadable) {
        report.walk_problem_met({walk_issue::unreadable_file, path});
    } else if (why == file_jobs::left_out::vanished) {
        report.walk_problem_met(
            {walk_issue::stat_failed, path, from_errno(platform::error_not_found)});
    }
}

bool finish_oldest(file_jobs& jobs, const wchar_t* path, reporter& report, status& file_status,
                   bool progress, bool say_missing) {
    if (!jobs.usable()) {
        report.run_halted(path, halt_reason::no_workers);
        return false;
    }
    if (progress) {
        wait_for_file(jobs, path, report, say_missing);
    } else {
        (void)jobs.wait_oldest(-1);
    }
    if (const int shortage = jobs.oldest_shortage(); shortage != 0) {
        report_shortage(report, path, shortage);
        jobs.stop();  // the paths of the files still in flight go with the run
        return false;
    }
    file_status = from_int(jobs.oldest_status());
    if (file_status != status::ok && outcome_said(jobs, say_missing)) {
        report_file_error(report, path, file_status);
    }
    return true;
}

// Puts the parent folder, with its separator, in front of where the entry
// names go.
status start_with_parent(const run_settings& settings, reporter& report, wchar_t* buffer,
                         std::size_t& prefix) {
    prefix = 0;
    if (settings.has_parent) {
        prefix = settings.parent.size();
        const bool needs_separator = settings.parent.back() != L'/';
        // Entry names need room after the prefix; a parent that leaves too little
        // would have every entry fail or be cut short.
        if (prefix + (needs_separator ? 1 : 0) >= path_buffer_units - 2) {
            report.path_too_long();
            return status::path_error;
        }
        std::wmemcpy(buffer, settings.parent.c_str(), prefix);
        if (needs_separator) {
            buffer[prefix++] = L'/';
        }
    }
    buffer[prefix] = L'\0';
    return status::ok;
}

// The files of a creation run on their way through the workers, in list
// order: the ring of those in the window, oldest first.
struct creation_feed {
    file_jobs& jobs;
    creation_target target;
    std::vector<path_record*> in_flight;
    std::size_t oldest = 0;
    std::size_t queued = 0;

    creation_feed(file_jobs& jobs_, const wchar_t* target_path)
        : jobs(jobs_), target{target_path, false, {}}, in_flight(jobs_.capacity()) {
        target.exists = platform::get_file_info(target.path, target.info) == 0;
        if (target.exists) {
            // However a file's name reaches it: the walk may not have looked.
            jobs.exclude(target.info.device, target.info.inode);
        }
    }

    bool empty() const { return queued == oldest; }
    // The ring is as large as the window, so the window says it.
    bool full() const { return !jobs.has_room(); }
    path_record* oldest_file() const { return in_flight[oldest % in_flight.size()]; }
    void submit(path_record* file) {
        if (file->look == examination::pending) {
            jobs.submit_unexamined(file->text);
        } else {
            jobs.submit(file->text);
        }
        in_flight[queued++ % in_flight.size()] = file;
    }
    path_record* file_at(std::size_t sequence) const {
        return in_flight[sequence % in_flight.size()];
    }
    // The oldest file's result has been taken: its record goes back.
    void pop(path_pool& pool) {
        pool.release(oldest_file());
        jobs.pop();
        ++oldest;
    }
};

// Gives the records in a window back to the pool once no worker can touch
// them any more, however the run ends.
struct window_release {
    creation_feed& feed;
    path_pool& pool;
    ~window_release() {
        feed.jobs.stop();
        for (; !feed.empty(); ++feed.oldest) {
            pool.release(feed.oldest_file());
        }
    }
};

namespace {

// What the log of found files holds for each file, in the order found.
enum class found_kind : unsigned char {
    result,    // hashed while the walk went on, with the settings of that time
    pending,   // not hashed: the creation run hashes it
    excluded,  // the list's own target, as the walk's settings named it
};

struct found_head {
    found_kind kind;
    unsigned char unit_bytes;  // 1 when every unit of the path fits a byte
    std::uint32_t units;
    std::uint64_t device;
    std::uint64_t inode;
    std::int32_t result;
    std::int32_t shortage;
    std::uint64_t size;
    std::uint64_t write_time;
};

// One file read back from the log.
struct found_file {
    found_head head{};
    std::wstring path;
    std::string narrow;  // the path's bytes as logged, kept for the next file
    unsigned char digest[file_jobs::digest_room] = {};
};

// One record a file: its head, its path (a byte a unit when every unit
// fits one), and for a result its digest, appended at once.
[[nodiscard]] status log_file(spill_buffer& log, found_head head, const wchar_t* path,
                              const unsigned char* digest, std::size_t digest_size) {
    const std::size_t units = std::wcslen(path);
    unsigned long all_units = 0;
    for (std::size_t i = 0; i < units; ++i) {
        all_units |= static_cast<unsigned long>(path[i]);
    }
    head.units = static_cast<std::uint32_t>(units);
    head.unit_bytes = all_units > 0xFF ? sizeof(wchar_t) : 1;
    const std::size_t digest_bytes = head.kind == found_kind::result ? digest_size : 0;
    unsigned char record[sizeof head + path_buffer_units + file_jobs::digest_room];
    if (head.unit_bytes != 1 || units > path_buffer_units ||
        digest_bytes > file_jobs::digest_room) {
        status result = log.append(&head, sizeof head);
        if (result == status::ok) {
            result = log.append(path, units * sizeof(wchar_t));
        }
        return result == status::ok ? log.append(digest, digest_bytes) : result;
    }
    std::memcpy(record, &head, sizeof head);
    unsigned char* at = record + sizeof head;
    for (std::size_t i = 0; i < units; ++i) {
        at[i] = static_cast<unsigned char>(path[i]);
    }
    at += units;
    if (digest_bytes != 0) {
        std::memcpy(at, digest, digest_bytes);
        at += digest_bytes;
    }
    return log.append(record, static_cast<std::size_t>(at - record));
}

[[nodiscard]] status read_found(spill_buffer& log, std::size_t digest_size, found_file& out,
                                bool& got) {
    status result = log.read(&out.head, sizeof out.head, got);
    if (result != status::ok || !got) {
        return result;
    }
    const std::size_t units = out.head.units;
    out.path.resize(units);
    if (out.head.unit_bytes == 1) {
        out.narrow.resize(units);
        result = log.read(out.narrow.data(), units, got);
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(out.narrow.data());
        wchar_t* wide = out.path.data();
        for (std::size_t i = 0; i < units; ++i) {
            wide[i] = static_cast<wchar_t>(bytes[i]);
        }
    } else {
        result = log.read(out.path.data(), units * sizeof(wchar_t), got);
    }
    if (result == status::ok && got && out.head.kind == found_kind::result) {
        result = log.read(out.digest, digest_size, got);
    }
    return result;
}

// Says why a file the workers left out is not in the list, as the walk says
// it of the files it looks at; the list's own target goes quietly. Nothing
// for a file a look made here refused already.
void tell_left_out(reporter& report, const path_record& file, file_jobs::left_out why) {
    if (file.look != examination::refused) {
        report_left_out(report, file.text, why);
    }
}

// The look the walk left to the workers, made here for a file that will not
// reach them as it is: false when the file is left out (said so, and marked
// refused), with the status that ends the program in `result`.
[[nodiscard]] bool examine(reporter& report, path_record& file, status& result) {
    result = status::ok;
    platform::file_info info;
    if (int error = platform::get_file_info(file.text, info); error != 0) {
        report.walk_problem_met({walk_issue::stat_failed, file.text, from_errno(error)});
        if (error != platform::error_not_found) {
            result = from_errno(error);
        }
        file.look = examination::refused;
        return false;
    }
    if (!info.is_regular || !info.owner_read) {
        if (info.is_regular) {
            report.walk_problem_met({walk_issue::unreadable_file, file.text});
        }
        file.look = examination::refused;  // no longer a file: it goes as it would have
        return false;
    }
    file.device = info.device;
    file.inode = info.inode;
    file.look = examination::done;
    return true;
}

found_head head_of(found_kind kind, const path_record& file) {
    found_head head{};
    head.kind = kind;
    head.device = file.device;
    head.inode = file.inode;
    return head;
}

}  // namespace

// Every file the expansion found, in order, in a log that overflows into a
// scratch file; and, once a creation target is known, the workers hashing
// them while the walk goes on. The results go to the log as they come, so
// that memory holds only the files in the window however many are found.
struct early_hashing::state {
    spill_buffer log;
    path_pool* pool = nullptr;
    reporter* report = nullptr;
    expansion_state* expansion = nullptr;
    // Hashing: while the type and target it was started for still hold.
    int type = 0;
    std::wstring target_path;
    std::size_t digest_size = 0;
    std::unique_ptr<file_jobs> jobs;
    std::unique_ptr<creation_feed> feed;
    bool held = false;          // a file failed: nothing after it is hashed
    bool stopped = false;       // no hashing starts any more: a file waits unhashed before it
    std::uint64_t offered = 0;  // files the walk found, for the progress line's total
    status failure = status::ok;

    state() = default;
    state(const state&) = delete;
    state& operator=(const state&) = delete;
    ~state() {
        if (hashing()) {
            const window_release release{*feed, *pool};  // its end gives the window back
        }
    }

    bool hashing() const { return feed != nullptr; }
    // The walk leaves the look at a regular file to the workers only while
    // each file it finds goes straight to them.
    void tell_walk() {
        if (expansion != nullptr) {
            expansion->examine_later = hashing() && !held && !stopped && failure == status::ok;
        }
    }
    bool holds_for(const run_settings& settings) const {
        return hashing() && settings.has_target && settings.type == type &&
               settings.creation_target == target_path;
    }

    [[nodiscard]] status fail(status code) {
        if (failure == status::ok) {
            failure = code;
            report->scratch_failed(log.place().c_str(), code, log.error_number());
        }
        return code;
    }

    // Takes every result that is there already, so that the window keeps
    // room; after a failure nothing more goes in.
    [[nodiscard]] status take_done() {
        while (!feed->empty() && jobs->oldest_done()) {
            path_record* file = feed->oldest_file();
            if (const file_jobs::left_out why = jobs->oldest_left_out();
                why != file_jobs::left_out::none || file->look == examination::refused) {
                status logged = status::ok;
                if (why == file_jobs::left_out::excluded && file->look != examination::refused) {
                    // Logged as such: a later option may name another target.
                    logged =
                        log_file(log, head_of(found_kind::excluded, *file), file->text, nullptr, 0);
                } else {
                    tell_left_out(*report, *file, why);
                }
                feed->pop(*pool);
                if (logged != status::ok) {
                    return fail(logged);
                }
                continue;
            }
            found_head head = head_of(found_kind::result, *file);
            head.result = jobs->oldest_status();
            head.shortage = jobs->oldest_shortage();
            head.size = jobs->oldest_size();
            head.write_time = jobs->oldest_write_time();
            held = held || head.result != 0 || head.shortage != 0;
            if (status logged = log_file(log, head, file->text, jobs->oldest_digest(), digest_size);
                logged != status::ok) {
                return fail(logged);
            }
            feed->pop(*pool);
        }
        return status::ok;
    }

    // Waits for room in the window: the walk runs at most a window ahead of
    // the hashing.
    [[nodiscard]] status make_room() {
        while (feed->full() && jobs->wait_oldest(-1)) {
            if (status result = take_done(); result != status::ok) {
                return result;
            }
        }
        return take_done();
    }

    // Waits for every file in the window and logs its result.
    [[nodiscard]] status drain() {
        status result = status::ok;
        while (result == status::ok && !feed->empty() && jobs->wait_oldest(-1)) {
            result = take_done();
        }
        return result;
    }

    // Everything there is to say of the files in the window comes out now:
    // the results already there are taken, and each file the walk did not
    // look at is looked at here, so that a message for it goes before any
    // message that follows. The files stay in the window.
    [[nodiscard]] status settle() {
        if (!hashing()) {
            return status::ok;
        }
        if (status result = take_done(); result != status::ok) {
            return result;
        }
        for (std::size_t i = feed->oldest; i != feed->queued; ++i) {
            path_record* file = feed->file_at(i);
            status result = status::ok;
            if (file->look == examination::pending && !examine(*report, *file, result) &&
                result != status::ok) {
                return result;
            }
        }
        return status::ok;
    }

    // Hashing for `settings` from now on, unless no workers can be had.
    void start(const run_settings& settings) {
        try {
            auto made = std::make_unique<file_jobs>(choose_jobs(settings.jobs),
                                                    algorithm_for(settings.type));
            if (!made->usable()) {
                stopped = true;  // the creation run says so, with its own workers
                return;
            }
            type = settings.type;
            target_path = settings.creation_target;
            digest_size = digest_size_for(settings.type);
            jobs = std::move(made);
            feed = std::make_unique<creation_feed>(*jobs, target_path.c_str());
        } catch (const std::bad_alloc&) {
            stopped = true;
        }
    }

    // An option changed what is hashed: the files in the window wait in the
    // log for the creation run, and so does every file found from now on.
    [[nodiscard]] status give_up_hashing() {
        stopped = true;
        if (!hashing()) {
            return status::ok;
        }
        jobs->stop();  // no worker touches a path once this returns
        status result = status::ok;
        status looked = status::ok;
        for (; !feed->empty() && result == status::ok && looked == status::ok; feed->pop(*pool)) {
            path_record* file = feed->oldest_file();
            if (file->look == examination::refused ||
                (file->look == examination::pending && !examine(*report, *file, looked))) {
                continue;
            }
            result = log_file(log, head_of(found_kind::pending, *file), file->text, nullptr, 0);
        }
        feed.reset();
        jobs.reset();
        tell_walk();
        if (result != status::ok) {
            return fail(result);
        }
        return looked;
    }

    [[nodiscard]] status offer(const run_settings& settings, path_record* file) {
        ++offered;
        const status result = take(settings, file);
        tell_walk();
        return result;
    }

    [[nodiscard]] status take(const run_settings& settings, path_record* file) {
        if (settings.has_target && !log.spilled()) {
            log.place_beside(settings.creation_target);
        }
        status result = status::ok;
        if (hashing() && !holds_for(settings)) {
            result = give_up_hashing();
        }
        if (result == status::ok && !hashing() && !stopped && settings.has_target) {
            start(settings);
        }
        const bool excluded = hashing() && feed->target.is(*file);
        if (result == status::ok && hashing() && !held && !excluded) {
            result = make_room();
            if (result == status::ok && !held) {
                feed->submit(file);
                jobs->publish();
                return status::ok;
            }
        }
        if (result == status::ok && excluded) {
            result = drain();  // the files before it go to the log first
        }
        if (result == status::ok && !excluded && file->look == examination::pending &&
            !examine(*report, *file, result)) {
            pool->release(file);  // left out, said so: it waits for nobody
            return result;
        }
        if (result == status::ok) {
            const found_kind kind = excluded ? found_kind::excluded : found_kind::pending;
            if (status logged = log_file(log, head_of(kind, *file), file->text, nullptr, 0);
                logged != status::ok) {
                result = fail(logged);
            }
            stopped = stopped || !excluded;
        }
        pool->release(file);
        return result;
    }
};

file_jobs_algorithm algorithm_for(int type) {
    return type_row(type).algorithm;
}

early_hashing::early_hashing() = default;
early_hashing::~early_hashing() = default;

void early_hashing::stop() {
    self.reset();
}

void early_hashing::attach(expansion_state& expansion, const run_settings& settings,
                           reporter& report) {
    expansion.file_added = [this, &expansion, &settings, &report](path_record* file) {
        if (self == nullptr) {
            try {
                self = std::make_unique<state>();
            } catch (const std::bad_alloc&) {
                expansion.pool.release(file);
                report.out_of_memory();
                return status::unknown_error;
            }
            self->pool = &expansion.pool;
            self->report = &report;
            self->expansion = &expansion;
        }
        if (settings.shard.on && !settings.merge && shard_places != nullptr) {
            // Every shard walks every folder, but looks at its own files only.
            const std::uint64_t ordinal = shard_places->found++;
            status kept = status::ok;
            if (shard_of_path(file->text, settings.shard.count) != settings.shard.index ||
                (kept = shard_places->add(ordinal, file->text)) != status::ok) {
                expansion.pool.release(file);
                if (kept != status::ok) {
                    report.out_of_memory();
                }
                return kept;
            }
        }
        return self->offer(settings, file);
    };
    expansion.settle_found = [this]() { return self != nullptr ? self->settle() : status::ok; };
}

namespace {

// Reports a hashed file and adds it to the list; false when the run ends
// there (reported), with its status in `result`.
[[nodiscard]] bool take_into_list(reporter& report, const entry_adder& add_entry,
                                  const found_file& file, std::size_t digest_size, status& result) {
    const wchar_t* path = file.path.c_str();
    // As wait_for_file reports a file that is done.
    report.file_started(path);
    report.file_hashed(path);
    if (file.head.shortage != 0) {
        report_shortage(report, path, file.head.shortage);
        result = status::unknown_error;
        return false;
    }
    result = from_int(file.head.result);
    if (result != status::ok) {
        report_file_error(report, path, result);
        return false;
    }
    result = add_hashed(report, add_entry, path, {file.digest, digest_size}, file.head.size,
                        file.head.write_time);
    return result == status::ok;
}

// Waits for the oldest file of the feed and adds it to the list; false when
// the run ends there (reported), with its status in `result`.
[[nodiscard]] bool finish_into_list(reporter& report, const entry_adder& add_entry,
                                    creation_feed& feed, path_pool& pool, std::size_t digest_size,
                                    status& result) {
    file_jobs& workers = feed.jobs;
    path_record* file = feed.oldest_file();
    const wchar_t* path = file->text;
    if (!finish_oldest(workers, path, report, result)) {
        result = status::unknown_error;
        return false;
    }
    if (workers.oldest_left_out() != file_jobs::left_out::none ||
        file->look == examination::refused) {
        tell_left_out(report, *file, workers.oldest_left_out());
        result = status::ok;
        feed.pop(pool);
        return true;
    }
    if (result != status::ok) {
        return false;
    }
    result = add_hashed(report, add_entry, path, {workers.oldest_digest(), digest_size},
                        workers.oldest_size(), workers.oldest_write_time());
    if (result != status::ok) {
        return false;
    }
    feed.pop(pool);
    return true;
}

// The files the walk logged, hashed while it went on with the run's own
// settings: each result is reported in its place, then the files still in
// the window are waited for.
[[nodiscard]] status report_hashed_early(reporter& report, const entry_adder& add_entry,
                                         early_hashing::state& early, std::size_t digest_size) {
    found_file file;
    status result = early.log.rewind();
    for (bool got = true; result == status::ok;) {
        result = read_found(early.log, digest_size, file, got);
        if (result != status::ok || !got) {
            break;
        }
        if (file.head.kind == found_kind::result) {
            if (!take_into_list(report, add_entry, file, digest_size, result)) {
                return result;
            }
        } else if (file.head.kind == found_kind::pending) {
            // Logged unhashed only behind a failure, which ended the run.
            return status::unknown_error;
        }
    }
    if (result != status::ok) {
        return early.fail(result);
    }
    early.log.clear();
    while (!early.feed->empty()) {
        if (!finish_into_list(report, add_entry, *early.feed, *early.pool, digest_size, result)) {
            return result;
        }
    }
    return status::ok;
}

// Hands the logged files to `feed` while its window has room, in batches, so
// that idle workers are woken for several files at once. `ended` once the
// log is read to its end.
[[nodiscard]] status top_up_from_log(spill_buffer& log, std::size_t logged_digest_size,
                                     creation_feed& feed, path_pool& pool, found_file& file,
                                     bool& ended) {
    if (ended || feed.queued - feed.oldest > feed.in_flight.size() * 3 / 4) {
        return status::ok;
    }
    status result = status::ok;
    while (!ended && !feed.full() && result == status::ok) {
        bool got = false;
        result = read_found(log, logged_digest_size, file, got);
        if (result != status::ok || !got) {
            ended = true;
            break;
        }
        // Whatever was hashed with other settings is hashed again.
        path_record* record = pool.take(file.path.c_str(), file.path.size());
        if (record == nullptr) {
            return status::unknown_error;
        }
        record->device = file.head.device;
        record->inode = file.head.inode;
        if (feed.target.is(*record)) {
            pool.release(record);
            continue;
        }
        feed.submit(record);
    }
    feed.jobs.publish();
    return result;
}

// The files the walk logged, hashed now by the run's own workers: nothing
// was hashed early, or with settings a later option changed.
[[nodiscard]] status hash_logged_files(const run_settings& settings, reporter& report,
                                       const entry_adder& add_entry, early_hashing::state& found,
                                       const wchar_t* target_path, std::size_t digest_size) {
    file_jobs jobs(choose_jobs(settings.jobs), algorithm_for(settings.type));
    creation_feed feed(jobs, target_path);
    window_release release{feed, *found.pool};
    found_file file;
    bool ended = false;
    status result = found.log.rewind();
    for (;;) {
        if (result == status::ok) {
            result = top_up_from_log(found.log, found.digest_size, feed, *found.pool, file, ended);
        }
        if (result != status::ok) {
            return found.fail(result);
        }
        if (feed.empty()) {
            break;
        }
        if (!finish_into_list(report, add_entry, feed, *found.pool, digest_size, result)) {
            return result;
        }
    }
    found.log.clear();
    return status::ok;
}

}  // namespace

status creation_run(const run_settings& settings, reporter& report, container& list,
                    const entry_adder& add_entry, expansion_state& state, early_hashing& early) {
    if (early.self == nullptr) {  // nothing was found
        early.self = std::make_unique<early_hashing::state>();
        early.self->pool = &state.pool;
        early.self->report = &report;
    }
    early_hashing::state& found = *early.self;
    if (found.failure != status::ok) {
        return found.failure;
    }
    const bool early_holds = found.holds_for(settings);
    if (!early_holds && found.give_up_hashing() != status::ok) {
        return found.failure;  // hashed for another type or target: let it go
    }
    const wchar_t* target_path = settings.creation_target.c_str();
    report.run_started({run_kind::creation, target_path, settings.type});
    report.files_counted(found.offered, 0, false);  // the walk knows no sizes

    forget_failure_cause();
    status result = from_int(list.create(target_path));
    if (result != status::ok && early_holds) {
        // The files in flight may hold every descriptor the process may have.
        if (found.drain() != status::ok) {
            return found.failure;
        }
        result = from_int(list.create(target_path));
    }
    if (result != status::ok) {
        report.list_failed(list_step::create, target_path, result);
        return result;
    }
    const std::size_t digest_size = digest_size_for(settings.type);
    if (early_holds) {
        result = report_hashed_early(report, add_entry, found, digest_size);
    } else {
        result = hash_logged_files(settings, report, add_entry, found, target_path, digest_size);
    }
    if (result != status::ok) {
        return result;
    }
    state.directories.release_all(state.pool);
    forget_failure_cause();
    result = from_int(list.close());
    if (result != status::ok) {
        // Unsaid, a full disk would show only in the exit status.
        report.list_failed(list_step::save, target_path, result);
    }
    return result;
}

status open_for_run(const run_settings& settings, reporter& report, container& list,
                    wchar_t* buffer, std::size_t& prefix) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    status result = start_with_parent(settings, report, buffer, prefix);
    if (result != status::ok) {
        return result;
    }
    forget_failure_cause();
    result = from_int(list.open(list_name));
    if (result != status::ok) {
        report.list_failed(list_step::open, list_name, result);
        return result;
    }
    // Remembered verifications hold only for the files they were earned on.
    list.resolveNamesIn(settings.has_parent ? settings.parent.c_str() : L".");
    return status::ok;
}

int verification_run(const run_settings& settings, reporter& report, container& list,
                     file_jobs& jobs, const verified_query& previously_verified,
                     expansion_state& state, const untrusted_query& untrusted_file_system,
                     list_shard* shard) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    report.run_started(
        {run_kind::verification, list_name, settings.type, settings.type_from_content});
    wchar_t* buffer = state.path_buffer;
    std::size_t prefix = 0;
    status result = open_for_run(settings, report, list, buffer, prefix);
    if (result != status::ok) {
        return to_int(result);
    }

    verification_tally tally;
    const std::size_t digest_size = digest_size_for(settings.type);
    reading_ahead ahead(settings, list, jobs, previously_verified, buffer, prefix);
    ahead.report = &report;
    ahead.shard = shard;
    std::unique_ptr<audit_gathering> audit;
    if (settings.audit) {
        result = start_audit(settings, report, audit);
        if (result != status::ok) {
            return to_int(result);
        }
        ahead.audit = audit.get();
    }

    for (;;) {
        ahead.top_up(tally);
        if (ahead.queued == ahead.oldest) {
            break;
        }
        pending_entry& entry = ahead.pending[ahead.oldest % ahead.ring];
        ++ahead.oldest;
        result = report_entry(report, list, jobs, entry, digest_size, tally, settings, shard);
        if (result != status::ok) {
            return to_int(result);  // a shard's unfinished results go with it
        }
    }
    if (ahead.list_error != status::ok) {
        // A damaged list must not pass as verified: the entries behind the
        // bad line were never checked.
        report.list_failed(list_step::read, list_name, ahead.list_error);
        ++tally.errors;
    }

    if (audit != nullptr) {
        result = finish_audit(settings, report, *audit, tally, state, shard);
        if (result != status::ok) {
            return to_int(result);
        }
    }

    std::wstring untrusted;
    if (untrusted_file_system) {
        // Asked before close, which forgets it (and, with -a, writes no tag
        // for such a folder only once it was asked).
        const wchar_t* name = untrusted_file_system();
        untrusted = name != nullptr ? name : L"";
    }
    forget_failure_cause();
    result = from_int(list.close());
    if (result != status::ok) {
        // The verdicts stand; only the remembered marks could not be saved.
        report.list_failed(list_step::save, list_name, result);
    }
    if (shard != nullptr) {
        // Also at a damaged line, where one run would stop too: the merge
        // reads the list and stops there as it does.
        result =
            end_shard_results(*shard, report, untrusted.empty() ? "-" : encode_text(untrusted));
        if (result != status::ok) {
            return to_int(result);
        }
    }
    return report_summary(report, settings, tally, untrusted, shard == nullptr);
}

}  // namespace korvane::app
