#include "runs.h"

#include <korvane/config.h>
#include <korvane/container.h>
#include <korvane/jobs.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "entries.h"
#include "jobs.h"
#include "output.h"
#include "platform/fileops.h"
#include "platform/fs.h"
#include "report.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

// Waits for the oldest file in flight, reporting its percentage when the
// reporter wants it. The first wait is long so that quick files show only
// their final line.
void wait_for_file(file_jobs& jobs, const wchar_t* path, reporter& report) {
    report.file_started(path);
    if (!report.wants_progress()) {
        jobs.wait_oldest(-1);
        report.file_hashed(path);
        return;
    }
    int shown = -1;
    int timeout_ms = 3000;
    while (!jobs.wait_oldest(timeout_ms)) {
        timeout_ms = 500;
        int percent = jobs.oldest_percent();
        if (percent != shown) {
            report.file_progress(path, percent);
            shown = percent;
        }
    }
    report.file_hashed(path);
}

// What the walk found that the list must not take in: its own previous self,
// however the walk reached it (another spelling of the path, a link).
struct creation_target {
    const wchar_t* path;
    bool exists;
    platform::file_info info;

    bool is(const path_record& record) const {
        return std::wcscmp(record.text, path) == 0 ||
               (exists && record.device == info.device && record.inode == info.inode);
    }
};

// A file that could not be hashed.
void report_file_error(reporter& report, const wchar_t* path, status failure) {
    file_outcome outcome;
    outcome.path = path;
    outcome.what = verdict::file_error;
    outcome.cause = failure;
    report.file_done(outcome);
}

// A file that the process had no descriptor or memory for, although no other
// file was open: the run cannot go on.
void report_shortage(reporter& report, const wchar_t* path, int shortage) {
    report.run_halted(
        path, shortage == ENOMEM ? halt_reason::out_of_memory : halt_reason::out_of_descriptors);
}

// The oldest file in flight, hashed: waits for it and gives its status in
// `file_status`, having reported a failure. False when no worker could start,
// or the process ran out of descriptors or memory with nothing else in flight,
// which ends the run (also reported).
[[nodiscard]] bool finish_oldest(file_jobs& jobs, const wchar_t* path, reporter& report,
                                 status& file_status) {
    if (!jobs.usable()) {
        report.run_halted(path, halt_reason::no_workers);
        return false;
    }
    wait_for_file(jobs, path, report);
    if (const int shortage = jobs.oldest_shortage(); shortage != 0) {
        report_shortage(report, path, shortage);
        jobs.stop();  // the paths of the files still in flight go with the run
        return false;
    }
    file_status = from_int(jobs.oldest_status());
    if (file_status != status::ok) {
        report_file_error(report, path, file_status);
    }
    return true;
}

// Puts the parent folder, with its separator, in front of where the entry
// names go.
[[nodiscard]] status start_with_parent(const run_settings& settings, reporter& report,
                                       wchar_t* buffer, std::size_t& prefix) {
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
    bool outside;  // a line outside the signed text: shown, never checked
};

struct reading_ahead {
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
        jobs.publish();
    }

    void read_entry(verification_tally& tally) {
        unsigned char expected[stored_digest_bytes];
        std::uint64_t size = 0;
        int result = list.getNextFile(name, room, &size, expected);
        if (result == to_int(status::outside_signed_text)) {
            // Reported in its place among the entries; the list goes on.
            pending_entry& line = pending[queued % ring];
            std::wmemcpy(line.path, name, std::wcslen(name) + 1);
            line.hashed = false;
            line.outside = true;
            ++queued;
            return;
        }
        if (result <= 0) {
            list_ended = true;
            list_error = from_int(result);
            return;
        }
        resolve_windows_separators(buffer, name);
        pending_entry& entry = pending[queued % ring];
        std::wmemcpy(entry.path, buffer, std::wcslen(buffer) + 1);
        std::memcpy(entry.digest, expected, sizeof expected);
        // Asked now, while the list stands at this entry. Only a plain yes
        // spares the file: a failed query (a negative status) is no yes.
        entry.hashed = settings.doall || previously_verified(tally.entries, entry.path) != 1;
        entry.outside = false;
        ++tally.entries;
        if (entry.hashed) {
            jobs.submit(entry.path);
        }
        ++queued;
    }
};

// Marks the entry just reported for the next run. A mark that cannot be kept
// costs that run a fresh check of the file and changes no verdict of this one.
void remember_verdict(container& list, bool verified) {
    (void)list.setPreviouslyVerified(verified);
}

// Reports the outcome of the oldest entry read; only a failure of the workers
// themselves ends the run.
[[nodiscard]] status report_entry(reporter& report, container& list, file_jobs& jobs,
                                  const pending_entry& entry, std::size_t digest_size,
                                  verification_tally& tally) {
    file_outcome outcome;
    outcome.path = entry.path;
    if (entry.outside) {
        outcome.what = verdict::outside_signed_text;
        report.file_done(outcome);
        ++tally.outside;
        return status::ok;
    }
    if (!entry.hashed) {
        outcome.what = verdict::previously_verified;
        report.file_done(outcome);
        remember_verdict(list, true);
        return status::ok;
    }
    status result = status::ok;
    if (!finish_oldest(jobs, entry.path, report, result)) {
        return status::unknown_error;
    }
    if (result != status::ok) {
        if (result == status::file_not_found) {
            ++tally.missing;
        } else {
            ++tally.errors;
        }
        remember_verdict(list, false);
    } else {
        outcome.expected = {entry.digest, digest_size};
        outcome.actual = {jobs.oldest_digest(), digest_size};
        const bool verified = std::memcmp(outcome.actual.bytes, entry.digest, digest_size) == 0;
        outcome.what = verified ? verdict::ok : verdict::mismatch;
        tally.errors += verified ? 0 : 1;
        report.file_done(outcome);
        remember_verdict(list, verified);
    }
    jobs.pop();
    return status::ok;
}

int report_summary(reporter& report, const verification_tally& tally,
                   const std::wstring& untrusted) {
    report.summary(tally, untrusted.empty() ? nullptr : untrusted.c_str());
    if (tally.errors > 0 || tally.missing > 0 || tally.outside > 0) {
        return 1;
    }
    if (static_cast<bool>((*config::instance())["addtag"])) {
        (void)platform::create_marker_file(L"_Verified_");  // a failure is of no consequence
    }
    return 0;
}
// Adds a hashed file to the list; an entry left out would pass the list off
// as complete, so a failure ends the run.
[[nodiscard]] status add_hashed(reporter& report, const entry_adder& add_entry, const wchar_t* path,
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

}  // namespace

// The files of a creation run on their way through the workers: those in
// the window in list order, and where the list goes on.
struct creation_feed {
    file_jobs& jobs;
    creation_target target;
    const path_list& files;
    std::vector<path_record*> in_flight;
    std::size_t oldest = 0;
    std::size_t queued = 0;
    path_record* passed = nullptr;  // the last file handed in or left out
    bool held = false;              // a failure is known: nothing after it goes in

    creation_feed(file_jobs& jobs_, const wchar_t* target_path, const path_list& files_)
        : jobs(jobs_), target{target_path, false, {}}, files(files_), in_flight(jobs_.capacity()) {
        target.exists = platform::get_file_info(target.path, target.info) == 0;
    }

    path_record* oldest_file() const { return in_flight[oldest % in_flight.size()]; }

    // Hands files in while the window has room, in batches, so that idle
    // workers are woken for several files at once rather than for each one.
    void top_up() {
        const std::size_t ring = in_flight.size();
        if (held || queued - oldest > ring * 3 / 4) {
            return;
        }
        for (path_record* next = passed != nullptr ? passed->next : files.head;
             next != nullptr && jobs.has_room(); next = next->next) {
            if (!target.is(*next)) {
                jobs.submit(next->text);
                in_flight[queued++ % ring] = next;
            }
            passed = next;
        }
        jobs.publish();
    }
};

// A result taken out of the window while the expansion went on.
struct early_result {
    path_record* file;
    status result;
    std::uint64_t size;
    std::uint64_t write_time;
    int shortage;
};

struct early_hashing::state {
    int type;
    std::wstring target_path;
    std::size_t digest_size;
    std::unique_ptr<file_jobs> jobs;
    std::unique_ptr<creation_feed> feed;
    std::vector<early_result> results;
    std::vector<unsigned char> digests;  // digest_size bytes a result

    bool holds_for(const run_settings& settings) const {
        return settings.has_target && settings.type == type &&
               settings.creation_target == target_path;
    }

    // Takes every result that is there already, so that the window keeps
    // room; after a failure nothing more goes in.
    void take_done() {
        while (feed->oldest < feed->queued && jobs->oldest_done()) {
            const status result = from_int(jobs->oldest_status());
            results.push_back({feed->oldest_file(), result, jobs->oldest_size(),
                               jobs->oldest_write_time(), jobs->oldest_shortage()});
            digests.insert(digests.end(), jobs->oldest_digest(),
                           jobs->oldest_digest() + digest_size);
            feed->held = feed->held || result != status::ok;
            jobs->pop();
            ++feed->oldest;
        }
    }

    // Waits for every file in flight and takes its result: what the workers
    // hold (descriptors, memory) is free for the list itself then.
    void drain() {
        while (feed->oldest < feed->queued && jobs->wait_oldest(-1)) {
            take_done();
        }
    }

    // Reports the results taken early, as the creation run reports any.
    [[nodiscard]] status report(reporter& out, const entry_adder& add_entry) {
        for (std::size_t i = 0; i < results.size(); ++i) {
            const early_result& taken = results[i];
            const wchar_t* path = taken.file->text;
            // As wait_for_file reports a file that is done.
            out.file_started(path);
            out.file_hashed(path);
            if (taken.shortage != 0) {
                report_shortage(out, path, taken.shortage);
                jobs->stop();
                return status::unknown_error;
            }
            if (taken.result != status::ok) {
                report_file_error(out, path, taken.result);
                return taken.result;
            }
            status added =
                add_hashed(out, add_entry, path, {digests.data() + i * digest_size, digest_size},
                           taken.size, taken.write_time);
            if (added != status::ok) {
                return added;
            }
        }
        results = {};
        digests = {};
        return status::ok;
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

void early_hashing::offer(const run_settings& settings, const path_list& files) {
    if (!settings.has_target || declined) {
        return;  // a verification (its files come from the list), or no workers
    }
    try {
        if (self == nullptr) {
            auto made = std::make_unique<state>();
            made->type = settings.type;
            made->target_path = settings.creation_target;
            made->jobs = std::make_unique<file_jobs>(choose_jobs(settings.jobs),
                                                     algorithm_for(settings.type));
            if (!made->jobs->usable()) {
                declined = true;  // the creation run says so, with its own workers
                return;
            }
            made->digest_size = digest_size_for(settings.type);
            made->feed =
                std::make_unique<creation_feed>(*made->jobs, made->target_path.c_str(), files);
            self = std::move(made);
        }
        if (!self->holds_for(settings)) {
            self.reset();  // a later option changed what is hashed
            return;
        }
        self->feed->top_up();
        self->take_done();
    } catch (const std::bad_alloc&) {
        // Whatever was taken may be incomplete: the creation run starts over.
        self.reset();
        declined = true;
    }
}

status creation_run(const run_settings& settings, reporter& report, container& list,
                    const entry_adder& add_entry, expansion_state& state, early_hashing& early) {
    const bool early_holds = early.self != nullptr && early.self->holds_for(settings);
    // Built after the lists and the paths, so that they go first: no worker
    // touches a path once the run has returned.
    std::unique_ptr<file_jobs> own_jobs;
    std::unique_ptr<creation_feed> own_feed;
    if (!early_holds) {
        early.self.reset();  // hashed for another type or target: let it go
        own_jobs =
            std::make_unique<file_jobs>(choose_jobs(settings.jobs), algorithm_for(settings.type));
        own_feed = std::make_unique<creation_feed>(*own_jobs, settings.creation_target.c_str(),
                                                   state.files);
    }
    creation_feed& feed = early_holds ? *early.self->feed : *own_feed;
    const wchar_t* target_path = feed.target.path;
    report.run_started({run_kind::creation, target_path, settings.type});

    forget_failure_cause();
    status result = from_int(list.create(target_path));
    if (result != status::ok && early_holds) {
        // The files in flight may hold every descriptor the process may have.
        early.self->drain();
        result = from_int(list.create(target_path));
    }
    if (result != status::ok) {
        report.list_failed(list_step::create, target_path, result);
        return result;
    }
    if (early_holds) {
        result = early.self->report(report, add_entry);
        if (result != status::ok) {
            return result;
        }
    }
    // Files go to the workers ahead of the one reported; results come back in
    // list order, and the first failure ends the run: whatever was started
    // after it is dropped unseen when the jobs go away.
    file_jobs& workers = feed.jobs;
    for (;;) {
        feed.top_up();
        if (feed.queued == feed.oldest) {
            break;
        }
        const wchar_t* path = feed.oldest_file()->text;
        if (!finish_oldest(workers, path, report, result)) {
            return status::unknown_error;
        }
        if (result != status::ok) {
            return result;
        }
        result = add_hashed(report, add_entry, path,
                            {workers.oldest_digest(), digest_size_for(settings.type)},
                            workers.oldest_size(), workers.oldest_write_time());
        if (result != status::ok) {
            return result;
        }
        workers.pop();
        ++feed.oldest;
    }
    state.files.release_all(state.pool);
    state.directories.release_all(state.pool);
    forget_failure_cause();
    result = from_int(list.close());
    if (result != status::ok) {
        // Unsaid, a full disk would show only in the exit status.
        report.list_failed(list_step::save, target_path, result);
    }
    return result;
}

int verification_run(const run_settings& settings, reporter& report, container& list,
                     file_jobs& jobs, const verified_query& previously_verified,
                     expansion_state& state, const untrusted_query& untrusted_file_system) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    report.run_started({run_kind::verification, list_name, settings.type});
    wchar_t* buffer = state.path_buffer;
    std::size_t prefix = 0;
    status result = start_with_parent(settings, report, buffer, prefix);
    if (result != status::ok) {
        return to_int(result);
    }

    forget_failure_cause();
    result = from_int(list.open(list_name));
    if (result != status::ok) {
        report.list_failed(list_step::open, list_name, result);
        return to_int(result);
    }
    // Remembered verifications hold only for the files they were earned on.
    list.resolveNamesIn(settings.has_parent ? settings.parent.c_str() : L".");

    verification_tally tally;
    const std::size_t digest_size = digest_size_for(settings.type);
    reading_ahead ahead(settings, list, jobs, previously_verified, buffer, prefix);

    for (;;) {
        ahead.top_up(tally);
        if (ahead.queued == ahead.oldest) {
            break;
        }
        pending_entry& entry = ahead.pending[ahead.oldest % ahead.ring];
        ++ahead.oldest;
        result = report_entry(report, list, jobs, entry, digest_size, tally);
        if (result != status::ok) {
            return to_int(result);
        }
    }
    if (ahead.list_error != status::ok) {
        // A damaged list must not pass as verified: the entries behind the
        // bad line were never checked.
        report.list_failed(list_step::read, list_name, ahead.list_error);
        ++tally.errors;
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
    return report_summary(report, tally, untrusted);
}

}  // namespace korvane::app
