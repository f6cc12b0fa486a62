#include "runs.h"

#include <korvane/config.h>
#include <korvane/container.h>
#include <korvane/hasher.h>
#include <korvane/jobs.h>

#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "entries.h"
#include "output.h"
#include "platform/fileops.h"
#include "platform/fs.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

// Waits for the oldest file in flight, drawing its percentage unless quiet. The
// first wait is long so that quick files show only their final line.
void wait_for_file(file_jobs& jobs, const wchar_t* path, bool quiet, const wchar_t* last_line) {
    if (quiet) {
        jobs.wait_oldest(-1);
        return;
    }
    int shown = -1;
    int timeout_ms = 3000;
    while (!jobs.wait_oldest(timeout_ms)) {
        timeout_ms = 500;
        int percent = jobs.oldest_percent();
        if (percent != shown) {
            print_now(L"%s: %d%% complete\r", {path, percent});
            shown = percent;
        }
    }
    if (shown != -1) {
        print_now(last_line, {path});
    } else {
        print(last_line, {path});
    }
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

// The oldest file in flight, hashed: waits for it and gives its status in
// `file_status`, having reported a failure. False when no worker could start,
// which ends the run (also reported).
[[nodiscard]] bool finish_oldest(file_jobs& jobs, const wchar_t* path, bool quiet,
                                 const wchar_t* last_line, status& file_status) {
    if (!jobs.usable()) {
        print(L"Error processing file %s: %s\n", {path, status_message(status::unknown_error)});
        return false;
    }
    wait_for_file(jobs, path, quiet, last_line);
    file_status = from_int(jobs.oldest_status());
    if (file_status != status::ok) {
        print(L"%s: File error: %s\n", {path, status_message(file_status)});
    }
    return true;
}

// Puts the parent folder, with its separator, in front of where the entry
// names go.
[[nodiscard]] status start_with_parent(const run_settings& settings, wchar_t* buffer,
                                       std::size_t& prefix) {
    prefix = 0;
    if (settings.has_parent) {
        prefix = settings.parent.size();
        const bool needs_separator = settings.parent.back() != L'/';
        // Entry names need room after the prefix; a parent that leaves too little
        // would have every entry fail or be cut short.
        if (prefix + (needs_separator ? 1 : 0) >= path_buffer_units - 2) {
            print_error(L"Path is too long\n");
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

struct verification_tally {
    int entries = 0;
    int errors = 0;
    int missing = 0;
};

constexpr std::size_t stored_digest_bytes = 128;

// Entries are read ahead of the one reported and their files handed to the
// workers; each keeps its own copy of its path and stored digest until its
// result has been reported, in list order.
struct pending_entry {
    wchar_t path[path_buffer_units];
    unsigned char digest[stored_digest_bytes];
    bool hashed;
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
[[nodiscard]] status report_entry(const run_settings& settings, container& list, hasher& algorithm,
                                  file_jobs& jobs, const pending_entry& entry,
                                  std::size_t digest_size, verification_tally& tally) {
    const wchar_t* path = entry.path;
    if (!entry.hashed) {
        if (!settings.quiet) {
            print(L"%s: Previously verified Ok\n", {path});
        }
        remember_verdict(list, true);
        return status::ok;
    }
    status result = status::ok;
    if (!finish_oldest(jobs, path, settings.quiet, L"%s: 100%% complete\r", result)) {
        return status::unknown_error;
    }
    if (result != status::ok) {
        if (result == status::file_not_found) {
            ++tally.missing;
        } else {
            ++tally.errors;
        }
        remember_verdict(list, false);
    } else if (std::memcmp(jobs.oldest_digest(), entry.digest, digest_size) == 0) {
        if (!settings.quiet) {
            print(L"%s: Ok                   \n", {path});
        }
        remember_verdict(list, true);
    } else {
        ++tally.errors;
        print_mismatch(path, settings.type, algorithm, entry.digest, jobs.oldest_digest());
        remember_verdict(list, false);
    }
    jobs.pop();
    return status::ok;
}

int report_summary(const verification_tally& tally) {
    print(L"%d files checked\n", {tally.entries});
    if (tally.errors > 0) {
        print(L"%d errors detected\n", {tally.errors});
    }
    if (tally.missing > 0) {
        print(L"%d missing files detected\n", {tally.missing});
    }
    if (tally.errors > 0 || tally.missing > 0) {
        return 1;
    }
    print(L"All files Ok\n");
    if (static_cast<bool>((*config::instance())["addtag"])) {
        (void)platform::create_marker_file(L"_Verified_");  // a failure is of no consequence
    }
    return 0;
}
}  // namespace

status creation_run(const run_settings& settings, container& list, file_jobs& jobs,
                    const entry_adder& add_entry, expansion_state& state) {
    creation_target target{settings.creation_target.c_str(), false, {}};
    target.exists = platform::get_file_info(target.path, target.info) == 0;

    status result = from_int(list.create(target.path));
    if (result != status::ok) {
        print(L"Error creating sfv file: %s\n", {status_message(result)});
        return result;
    }
    // Files go to the workers ahead of the one reported; results come back in
    // list order, and the first failure ends the run: whatever was started
    // after it is dropped unseen when the jobs go away.
    std::vector<path_record*> in_flight(jobs.capacity());
    const std::size_t ring = in_flight.size();
    std::size_t oldest = 0;
    std::size_t queued = 0;
    path_record* next = state.files.head;
    for (;;) {
        // Top up in batches, so that idle workers are woken for several files
        // at once rather than for each one.
        if (queued - oldest <= ring * 3 / 4) {
            for (; next != nullptr && jobs.has_room(); next = next->next) {
                if (!target.is(*next)) {
                    jobs.submit(next->text);
                    in_flight[queued++ % ring] = next;
                }
            }
            jobs.publish();
        }
        if (queued == oldest) {
            break;
        }
        const wchar_t* path = in_flight[oldest % ring]->text;
        if (!finish_oldest(jobs, path, settings.quiet, L"%s: 100%% complete\n", result)) {
            return status::unknown_error;
        }
        if (result != status::ok) {
            return result;
        }
        // An entry left out would pass the list off as complete.
        result = from_int(
            add_entry(path, jobs.oldest_digest(), jobs.oldest_size(), jobs.oldest_write_time()));
        if (result != status::ok) {
            print(L"Error adding file %s: %s\n", {path, status_message(result)});
            return result;
        }
        jobs.pop();
        ++oldest;
    }
    state.files.release_all(state.pool);
    state.directories.release_all(state.pool);
    result = from_int(list.close());
    if (result != status::ok) {
        // Without this line a full disk would show only in the exit status.
        print_error(L"%s: %s\n", {target.path, status_message(result)});
    }
    return result;
}

int verification_run(const run_settings& settings, container& list, hasher& algorithm,
                     file_jobs& jobs, const verified_query& previously_verified,
                     expansion_state& state) {
    wchar_t* buffer = state.path_buffer;
    std::size_t prefix = 0;
    status result = start_with_parent(settings, buffer, prefix);
    if (result != status::ok) {
        return to_int(result);
    }

    const wchar_t* list_name = settings.checksum_file.c_str();
    result = from_int(list.open(list_name));
    if (result != status::ok) {
        print_error(L"%s: %s\n", {list_name, status_message(result)});
        return to_int(result);
    }
    // Remembered verifications hold only for the files they were earned on.
    list.resolveNamesIn(settings.has_parent ? settings.parent.c_str() : L".");

    verification_tally tally;
    const auto digest_size = static_cast<std::size_t>(algorithm.hash_size());
    reading_ahead ahead(settings, list, jobs, previously_verified, buffer, prefix);

    for (;;) {
        ahead.top_up(tally);
        if (ahead.queued == ahead.oldest) {
            break;
        }
        pending_entry& entry = ahead.pending[ahead.oldest % ahead.ring];
        ++ahead.oldest;
        result = report_entry(settings, list, algorithm, jobs, entry, digest_size, tally);
        if (result != status::ok) {
            return to_int(result);
        }
    }
    if (ahead.list_error != status::ok) {
        // A damaged list must not pass as verified: the entries behind the
        // bad line were never checked.
        print(L"%s: %s\n", {list_name, status_message(ahead.list_error)});
        ++tally.errors;
    }

    result = from_int(list.close());
    if (result != status::ok) {
        // The verdicts stand; only the remembered marks could not be saved.
        print_error(L"%s: %s\n", {list_name, status_message(result)});
    }
    return report_summary(tally);
}

}  // namespace korvane::app
