#include "update.h"

#include <korvane/container.h>

#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "audit.h"
#include "entries.h"
#include "output.h"
#include "platform/fs.h"
#include "report.h"

namespace korvane::app {

namespace {

// A file to hash: a changed entry's (with the position of its line) or a new
// one's.
struct to_hash {
    std::wstring name;  // as the list names it, or will
    std::wstring path;  // where it is opened
    std::uint64_t position = 0;
    bool replaces = false;
};

struct update_state {
    const run_settings& settings;
    reporter& report;
    container& list;
    audit_scope scope;
    listed_names names;
    std::string key;
    std::vector<to_hash> work;
    std::vector<std::wstring> gone;  // in list order, reported once the list is known good
    int entries = 0;
    int present = 0;
    int failed = 0;
};

// The entry just read: its key kept for the walk, its file looked at (never
// opened) and judged by what the list records of it.
void judge_entry(update_state& run, const wchar_t* listed, const wchar_t* path) {
    name_key(path, run.scope.current_key, run.key);
    if (!run.names.add(run.key)) {
        throw std::bad_alloc();
    }
    ++run.entries;
    platform::file_info info;
    const int error = platform::get_file_info(path, info);
    if (error != 0 && error != platform::error_not_found) {
        // Unreachable is not gone (a folder without permission, a failing
        // disk): the entry stays as it is, whatever --prune says.
        report_file_error(run.report, path, from_errno(error));
        ++run.failed;
        return;
    }
    if (error != 0 || !info.is_regular) {
        const std::uint64_t position = run.list.entryPosition();
        if (run.settings.prune && run.list.dropEntry(position, listed) != 0) {
            throw std::bad_alloc();
        }
        run.gone.emplace_back(listed);
        return;
    }
    ++run.present;
    // Where the list records nothing, a present file is kept as listed.
    if (container::compareRecord(run.list.entryRecord(), info.size, info.write_time) ==
        record_match::changed) {
        run.work.push_back({listed, path, run.list.entryPosition(), true});
    }
}

[[nodiscard]] status read_entries(update_state& run, wchar_t* buffer, std::size_t prefix) {
    wchar_t* name = buffer + prefix;
    const int room = static_cast<int>(path_buffer_units - prefix);
    unsigned char digest[128];
    std::wstring listed;
    for (;;) {
        std::uint64_t size = 0;
        const int result = run.list.getNextFile(name, room, &size, digest);
        if (result <= 0) {
            return from_int(result);
        }
        listed = name;
        resolve_windows_separators(buffer, name);
        judge_entry(run, listed.c_str(), buffer);
    }
}

// Hashes the files of `run.work` and puts their entries in: replaced in
// place, or added at the end. A file that cannot be hashed keeps its old
// entry (or gets none) and is reported.
[[nodiscard]] status hash_and_enter(update_state& run, file_jobs& jobs,
                                    const entry_adder& add_entry) {
    std::size_t next = 0;
    for (std::size_t done = 0; done < run.work.size(); ++done) {
        while (next < run.work.size() && jobs.has_room()) {
            jobs.submit(run.work[next++].path.c_str());
        }
        jobs.publish();
        const to_hash& file = run.work[done];
        if (!jobs.usable()) {
            run.report.run_halted(file.path.c_str(), halt_reason::no_workers);
            return status::unknown_error;
        }
        (void)jobs.wait_oldest(-1);
        const status hashed = from_int(jobs.oldest_status());
        if (hashed != status::ok) {
            report_file_error(run.report, file.path.c_str(), hashed);
            ++run.failed;
            jobs.pop();
            continue;
        }
        if (file.replaces && run.list.replaceEntry(file.position) != 0) {
            return status::unknown_error;
        }
        const status entered = from_int(add_entry(file.name.c_str(), jobs.oldest_digest(),
                                                  jobs.oldest_size(), jobs.oldest_write_time()));
        jobs.pop();
        if (entered != status::ok) {
            run.report.update_refused(run.settings.checksum_file.c_str(), entered);
            return entered;
        }
        run.report.entry_updated(file.name.c_str(),
                                 file.replaces ? update_verdict::updated : update_verdict::added);
    }
    return status::ok;
}

// The files below the folder that the list does not name, in walk order.
[[nodiscard]] status find_new_files(update_state& run, expansion_state& state) {
    const unlisted_handler take = [&run](const wchar_t* path, std::wstring_view relative) {
        run.work.push_back({std::wstring(relative), path, 0, false});
        return status::ok;
    };
    int unlisted = 0;
    return walk_unlisted(run.scope, run.names, run.settings, state, run.report, take, unlisted);
}

[[nodiscard]] status open_for_update(update_state& run) {
    const wchar_t* list_name = run.settings.checksum_file.c_str();
    forget_failure_cause();
    status result = from_int(run.list.open(list_name));
    if (result != status::ok) {
        run.report.list_failed(list_step::open, list_name, result);
        return result;
    }
    result = from_int(run.list.beginUpdate());
    if (result != status::ok) {
        run.report.update_refused(list_name, result);
    }
    return result;
}

[[nodiscard]] status gather(update_state& run, expansion_state& state) {
    const wchar_t* list_name = run.settings.checksum_file.c_str();
    std::size_t prefix = 0;
    status result = start_with_parent(run.settings, run.report, state.path_buffer, prefix);
    if (result != status::ok) {
        return result;
    }
    result = read_entries(run, state.path_buffer, prefix);
    if (result != status::ok) {
        run.report.list_failed(list_step::read, list_name, result);
        return result;
    }
    if (run.entries > 0 && run.present == 0) {
        // The wrong folder, or a volume not mounted: an update would add
        // everything found here, or (with --prune) empty the list.
        run.report.update_refused(list_name, status::file_not_found);
        return status::file_not_found;
    }
    for (const std::wstring& name : run.gone) {
        run.report.entry_updated(name.c_str(), run.settings.prune ? update_verdict::removed
                                                                  : update_verdict::missing_kept);
    }
    std::vector<std::wstring>().swap(run.gone);
    return find_new_files(run, state);
}

}  // namespace

int update_run(const run_settings& settings, reporter& report, container& list, file_jobs& jobs,
               const entry_adder& add_entry, expansion_state& state) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    report.run_started({run_kind::update, list_name, settings.type});
    update_state run{settings, report, list, {}, {}, {}, {}, {}};
    int error = 0;
    if (!audit_scope_of(settings, run.scope, error)) {
        report.list_failed(list_step::open, L".", from_errno(error));
        return to_int(from_errno(error));
    }
    status result = open_for_update(run);
    try {
        if (result == status::ok) {
            result = gather(run, state);
        }
        if (result == status::ok) {
            result = hash_and_enter(run, jobs, add_entry);
        }
    } catch (const std::bad_alloc&) {
        report.out_of_memory();
        result = status::unknown_error;
    }
    if (result != status::ok) {
        return to_int(result);  // the list goes unwritten
    }
    forget_failure_cause();
    result = from_int(list.commitUpdate());
    if (result != status::ok) {
        report.update_refused(list_name, result);
        return to_int(result);
    }
    return run.failed > 0 ? 1 : 0;
}

}  // namespace korvane::app
