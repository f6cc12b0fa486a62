#include "update.h"

#include <korvane/container.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "audit.h"
#include "entries.h"
#include "jobs.h"
#include "looks.h"
#include "merge.h"
#include "name_list.h"
#include "output.h"
#include "platform/fs.h"
#include "report.h"
#include "shard_results.h"

namespace korvane::app {

namespace {

// A file to hash: a changed entry's (with the position of its line) or a new
// one's.
struct to_hash {
    std::wstring name;  // as the list names it, or will
    std::wstring path;  // where it is opened
    std::uint64_t position = 0;
    bool replaces = false;
    bool unexamined = false;  // found by a walk that left the look to the workers
    std::uint64_t place = 0;  // a shard's: the entry's index, or the new file's place in the walk
};

// A shard's line of what became of an entry ("e INDEX ...") or a new file
// ("a PLACE ... NAME").
[[nodiscard]] status note_update(list_shard* shard, const to_hash& file, const std::string& what) {
    if (shard == nullptr || shard->results == nullptr) {
        return status::ok;
    }
    ++shard->records;
    std::string line = (file.replaces ? "e " : "a ") + std::to_string(file.place) + ' ' + what;
    if (!file.replaces) {
        line += ' ' + encode_text(file.name) + ' ' + encode_text(file.path);
    }
    return shard->results->line(line);
}

// Files hashed while the entries are read and the folder is walked, taken
// back in the order they were handed in: whatever is found goes straight to
// the workers, and memory holds only the files in flight.
class hash_queue {
  public:
    hash_queue(file_jobs& workers, reporter& reporter_, container& list_, const entry_adder& add,
               const run_settings& settings_, list_shard* shard_)
        : shard(shard_),
          jobs(workers),
          report(reporter_),
          list(list_),
          add_entry(add),
          settings(settings_),
          files(workers.capacity()) {}

    [[nodiscard]] status push(to_hash&& file) {
        while (!jobs.has_room()) {
            if (status result = finish_oldest(); result != status::ok) {
                return result;
            }
        }
        to_hash& slot = files[tail++ % files.size()];
        slot = std::move(file);
        if (slot.unexamined) {
            jobs.submit_unexamined(slot.path.c_str());
        } else {
            jobs.submit(slot.path.c_str());
        }
        jobs.publish();
        return status::ok;
    }

    // Every file in flight entered in the list (or reported), so that what
    // is said next comes after them.
    [[nodiscard]] status drain() {
        while (head != tail) {
            if (status result = finish_oldest(); result != status::ok) {
                return result;
            }
        }
        return status::ok;
    }

    int failed = 0;
    int changed = 0;  // entries added or replaced
    list_shard* shard;

  private:
    [[nodiscard]] status finish_oldest();
    [[nodiscard]] status enter(const to_hash& file);

    file_jobs& jobs;
    reporter& report;
    container& list;
    const entry_adder& add_entry;
    const run_settings& settings;
    std::vector<to_hash> files;
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
};

status hash_queue::enter(const to_hash& file) {
    if (shard != nullptr) {
        // The merge enters it; the shard says it and keeps what it hashed.
        const std::size_t digest_size =
            static_cast<std::size_t>(type_row(settings.type).digest_size);
        report.entry_updated(file.name.c_str(),
                             file.replaces ? update_verdict::updated : update_verdict::added);
        ++changed;
        return note_update(shard, file,
                           "h " + std::to_string(jobs.oldest_size()) + ' ' +
                               std::to_string(jobs.oldest_write_time()) + ' ' +
                               hex_of(jobs.oldest_digest(), digest_size));
    }
    if (file.replaces && list.replaceEntry(file.position) != 0) {
        return status::unknown_error;
    }
    const status entered = from_int(add_entry(file.name.c_str(), jobs.oldest_digest(),
                                              jobs.oldest_size(), jobs.oldest_write_time()));
    if (entered != status::ok) {
        report.update_refused(settings.checksum_file.c_str(), entered);
        return entered;
    }
    report.entry_updated(file.name.c_str(),
                         file.replaces ? update_verdict::updated : update_verdict::added);
    ++changed;
    return status::ok;
}

// A file that cannot be hashed keeps its old entry (or gets none) and is
// reported.
status hash_queue::finish_oldest() {
    const to_hash& file = files[head % files.size()];
    status hashed = status::ok;
    if (!app::finish_oldest(jobs, file.path.c_str(), report, hashed, false)) {
        return status::unknown_error;
    }
    status result = status::ok;
    if (const file_jobs::left_out why = jobs.oldest_left_out(); why != file_jobs::left_out::none) {
        report_left_out(report, file.path.c_str(), why);
        result = note_update(shard, file, "l " + std::to_string(static_cast<int>(why)));
    } else if (hashed != status::ok) {
        ++failed;  // reported by finish_oldest
        result = note_update(shard, file, "f " + std::to_string(-to_int(hashed)));
    } else {
        result = enter(file);
    }
    jobs.pop();
    ++head;
    return result;
}

// The files named on the command line to add or refresh, in the order found,
// and what else the arguments name: an entry of a file named that is gone
// now, or of one below a folder named with -r, is judged (so --prune can drop
// it) although no expansion finds it.
struct named_files {
    std::vector<to_hash> files;
    listed_names keys;
    listed_names arguments;  // the keys of the arguments themselves (no wildcards)
    listed_names folders;    // of those, the ones named with -r

    bool holds(const std::string& key) const {
        if (keys.contains(key) || arguments.contains(key)) {
            return true;
        }
        // Every folder above the key, up to the one the names resolve against.
        for (std::size_t end = key.size(); end > 0;) {
            end = key.rfind('/', end - 1);
            if (end == std::string::npos) {
                break;
            }
            if (folders.contains(std::string_view(key).substr(0, end))) {
                return true;
            }
        }
        return false;
    }
};

struct update_state {
    const run_settings& settings;
    reporter& report;
    container& list;
    hash_queue& hashing;
    audit_scope scope;
    listed_names names;
    std::string key;
    named_files* named = nullptr;  // null: the whole folder
    list_shard* shard = nullptr;
    // Gone entries met before the first present one: said only once the
    // list is known to belong here.
    std::vector<std::wstring> gone_first;
    int entries = 0;
    int present = 0;
    int failed = 0;
    int dropped = 0;
};

// Said in list order: what is still being hashed comes out first.
[[nodiscard]] status tell_gone(update_state& run, const wchar_t* listed) {
    if (status result = run.hashing.drain(); result != status::ok) {
        return result;
    }
    run.report.entry_updated(
        listed, run.settings.prune ? update_verdict::removed : update_verdict::missing_kept);
    return status::ok;
}

// A shard's entry that is gone or cannot be looked at, after those before it.
[[nodiscard]] status note_entry(update_state& run, const file_look& look, const std::string& what) {
    if (status result = run.hashing.drain(); result != status::ok) {
        return result;
    }
    to_hash entry;
    entry.replaces = true;
    entry.place = static_cast<std::uint64_t>(look.index);
    return note_update(run.shard, entry, what);
}

[[nodiscard]] status first_present(update_state& run) {
    for (const std::wstring& name : run.gone_first) {
        if (status result = tell_gone(run, name.c_str()); result != status::ok) {
            return result;
        }
    }
    std::vector<std::wstring>().swap(run.gone_first);
    return status::ok;
}

// An entry judged by a look at its file (never opened) against what the
// list records of it.
[[nodiscard]] status judge(update_state& run, file_look& look) {
    if (look.error != 0 && look.error != platform::error_not_found) {
        // Unreachable is not gone (a folder without permission, a failing
        // disk): the entry stays as it is, whatever --prune says.
        status result = run.hashing.drain();
        report_file_error(run.report, look.path.c_str(), from_errno(look.error));
        ++run.failed;
        if (result == status::ok && run.shard != nullptr) {
            result = note_entry(run, look, "x " + std::to_string(look.error));
        }
        return result;
    }
    if (look.error != 0 || !look.info.is_regular) {
        if (run.shard != nullptr) {
            // Whether the list belongs here, and the dropping, are the merge's.
            if (status result = tell_gone(run, look.listed.c_str()); result != status::ok) {
                return result;
            }
            return note_entry(run, look, "g");
        }
        if (run.settings.prune) {
            if (run.list.dropEntry(look.position, look.listed.c_str()) != 0) {
                throw std::bad_alloc();
            }
            ++run.dropped;
        }
        if (run.present == 0) {
            run.gone_first.push_back(std::move(look.listed));
            return status::ok;
        }
        return tell_gone(run, look.listed.c_str());
    }
    if (run.shard != nullptr && run.shard->first_present < 0) {
        run.shard->first_present = look.index;
    }
    if (++run.present == 1) {
        if (status result = first_present(run); result != status::ok) {
            return result;
        }
    }
    // Where the list records nothing, a present file is kept as listed.
    if (container::compareRecord(look.record, look.info.size, look.info.write_time) !=
        record_match::changed) {
        return status::ok;
    }
    return run.hashing.push({std::move(look.listed), std::move(look.path), look.position, true,
                             false, static_cast<std::uint64_t>(look.index)});
}

[[nodiscard]] status judge_oldest(update_state& run, look_ahead& looks) {
    const status result = judge(run, looks.oldest());
    looks.pop();
    return result;
}

// Whether the entry at `index` is the shard's; notes the run of its own.
bool own_entry(list_shard& shard, std::int64_t index, std::uint64_t size) {
    if (shard.split.next(size) != shard.index) {
        return false;
    }
    shard.first = shard.first < 0 ? index : shard.first;
    shard.end = index + 1;
    return true;
}

[[nodiscard]] status read_entries(update_state& run, look_ahead& looks, wchar_t* buffer,
                                  std::size_t prefix) {
    wchar_t* name = buffer + prefix;
    const int room = static_cast<int>(path_buffer_units - prefix);
    unsigned char digest[128];
    for (;;) {
        std::uint64_t size = 0;
        const int read = run.list.getNextFile(name, room, &size, digest);
        if (read < 0) {
            return from_int(read);
        }
        if (read == 0) {
            break;
        }
        file_look& look = looks.next();
        look.listed = name;
        resolve_windows_separators(buffer, name);
        name_key(buffer, run.scope.current_key, run.key);
        if (!run.names.add(run.key)) {
            throw std::bad_alloc();
        }
        const std::int64_t index = run.entries++;
        if (run.shard != nullptr && !own_entry(*run.shard, index, run.list.entryRecord().size)) {
            continue;  // another shard's: kept, unlooked at
        }
        if (!run.settings.excludes.empty() && run.settings.excludes.takes_named(name, false)) {
            continue;  // excluded: never added, and an entry of it kept as it stands
        }
        if (run.named != nullptr && !run.named->holds(run.key)) {
            continue;  // not named on the command line: kept as it stands
        }
        look.path = buffer;
        look.index = index;
        look.position = run.list.entryPosition();
        look.record = run.list.entryRecord();
        looks.submit();
        while (!looks.has_room()) {
            if (status result = judge_oldest(run, looks); result != status::ok) {
                return result;
            }
        }
    }
    status result = status::ok;
    while (result == status::ok && !looks.empty()) {
        result = judge_oldest(run, looks);
    }
    return result;
}

// The files below the folder that the list does not name, in walk order.
[[nodiscard]] status add_new_files(update_state& run, expansion_state& state) {
    if (run.named != nullptr) {
        for (to_hash& file : run.named->files) {
            name_key(file.path, run.scope.current_key, run.key);
            if (run.names.contains(run.key)) {
                continue;  // listed: judged with the entries
            }
            if (status result = run.hashing.push(std::move(file)); result != status::ok) {
                return result;
            }
        }
        return status::ok;
    }
    walk_shard walk;
    if (run.shard != nullptr) {
        walk.index = run.shard->index;
        walk.count = run.shard->count;
    }
    const unlisted_handler take = [&run, &walk](const wchar_t* path, std::wstring_view relative) {
        return run.hashing.push({std::wstring(relative), path, 0, false, true, walk.place});
    };
    int unlisted = 0;
    return walk_unlisted(run.scope, run.names, run.settings, state, run.report, take, unlisted,
                         run.shard != nullptr ? &walk : nullptr);
}

[[nodiscard]] status open_for_update(update_state& run) {
    const wchar_t* list_name = run.settings.checksum_file.c_str();
    forget_failure_cause();
    status result = from_int(run.list.open(list_name));
    if (result != status::ok) {
        run.report.list_failed(list_step::open, list_name, result);
        return result;
    }
    // Remembered verifications of kept entries stay only where they were earned.
    run.list.resolveNamesIn(run.settings.has_parent ? run.settings.parent.c_str() : L".");
    result = from_int(run.list.beginUpdate());
    if (result != status::ok) {
        run.report.update_refused(list_name, result);
    }
    return result;
}

// The entries, judged and (where changed) hashed while they are read; the
// status query of each runs on helper threads.
[[nodiscard]] status gather(update_state& run, expansion_state& state) {
    const wchar_t* list_name = run.settings.checksum_file.c_str();
    std::size_t prefix = 0;
    status result = start_with_parent(run.settings, run.report, state.path_buffer, prefix);
    if (result != status::ok) {
        return result;
    }
    {
        look_ahead looks(std::max(1, choose_jobs(run.settings.jobs) - 1));
        result = read_entries(run, looks, state.path_buffer, prefix);
    }
    if (result != status::ok) {
        if (result != status::unknown_error) {
            run.report.list_failed(list_step::read, list_name, result);
        }
        return result;
    }
    if (run.named == nullptr && run.entries > 0 && run.present == 0 && run.shard == nullptr) {
        // The wrong folder, or a volume not mounted: an update would add
        // everything found here, or (with --prune) empty the list.
        run.report.update_refused(list_name, status::file_not_found);
        return status::file_not_found;
    }
    if (status told = first_present(run); told != status::ok) {
        return told;
    }
    result = add_new_files(run, state);
    return result == status::ok ? run.hashing.drain() : result;
}

// The files the update's file arguments name, expanded as a creation would
// expand them; the list's own files are passed over.
[[nodiscard]] status expand_named(const run_settings& settings, const audit_scope& scope,
                                  expansion_state& state, reporter& report, named_files& named) {
    const own_files own(scope);
    std::string key;
    state.examine_later = false;
    state.settle_found = nullptr;
    state.file_added = [&](path_record* file) {
        name_key(file->text, scope.current_key, key);
        if (!own.holds(key, file->text) && !named.keys.contains(key)) {
            if (!named.keys.add(key)) {
                throw std::bad_alloc();
            }
            named.files.push_back({file->text, file->text, 0, false, false});
        }
        state.pool.release(file);
        return status::ok;
    };
    run_settings expanding = settings;
    // A name the argument gives whole (no wildcards expanded): an entry of it,
    // or below it when walked, is judged although the expansion finds nothing.
    auto note_named = [&](const std::wstring& argument, bool recursive) {
        name_key(argument, scope.current_key, key);
        if (!named.arguments.add(key) || (recursive && !named.folders.add(key))) {
            throw std::bad_alloc();
        }
    };
    status result = status::ok;
    for (const run_settings::named_file& argument : settings.update_files) {
        if (argument.argument.find_first_of(L"*?") == std::wstring::npos) {
            note_named(argument.argument, argument.recursive);
        }
        expanding.recursive = argument.recursive;
        expanding.one_file_system = argument.one_file_system;
        if (result = expand_argument(argument.argument.c_str(), expanding, state, report);
            result != status::ok) {
            break;
        }
    }
    if (result == status::ok) {
        // Names from --files-from, with the -r and -x the command line ends with.
        expanding.recursive = settings.recursive;
        expanding.one_file_system = settings.one_file_system;
        result = read_name_lists(settings, state, report, [&](const wchar_t* name) {
            note_named(name, expanding.recursive);
            return expand_argument(name, expanding, state, report, true);
        });
    }
    state.file_added = nullptr;
    return result;
}

[[nodiscard]] status update(update_state& run, expansion_state& state) {
    named_files named;
    status result = open_for_update(run);
    if (result == status::ok &&
        (!run.settings.update_files.empty() || !run.settings.files_from.empty())) {
        run.named = &named;
        result = expand_named(run.settings, run.scope, state, run.report, named);
    }
    if (result == status::ok) {
        result = gather(run, state);
    }
    return result;
}

// The end of a shard's results: its records, and the run of entries that
// were its own ("- -" when none).
// What ends a shard's results: the run of entries that were its own ("- -"
// when none) and the first of them whose file is there.
std::string update_shard_end(const list_shard& shard) {
    auto number = [](std::int64_t value) {
        return value < 0 ? std::string("-") : std::to_string(value);
    };
    const std::string range =
        shard.first < 0 ? std::string("- -") : number(shard.first) + ' ' + number(shard.end);
    return range + ' ' + number(shard.first_present);
}

}  // namespace

int update_run(const run_settings& settings, reporter& report, container& list, file_jobs& jobs,
               const entry_adder& add_entry, expansion_state& state, list_shard* shard) {
    const wchar_t* list_name = settings.checksum_file.c_str();
    report.run_started({run_kind::update, list_name, settings.type});
    hash_queue hashing(jobs, report, list, add_entry, settings, shard);
    update_state run{settings, report, list, hashing, {}, {}, {}, nullptr, shard, {}, 0, 0, 0, 0};
    // A shard's gone entries are said at once: whether the list belongs
    // here is the merge's to judge, from every shard's entries.
    run.present = shard != nullptr ? 1 : 0;
    int error = 0;
    if (!audit_scope_of(settings, run.scope, error)) {
        report.list_failed(list_step::open, L".", from_errno(error));
        return to_int(from_errno(error));
    }
    status result = status::ok;
    try {
        result = update(run, state);
    } catch (const std::bad_alloc&) {
        report.out_of_memory();
        result = status::unknown_error;
    }
    if (result != status::ok) {
        jobs.stop();            // the paths of files still in flight go with the run
        return to_int(result);  // the list goes unwritten
    }
    const int exit_status = run.failed + hashing.failed > 0 ? 1 : 0;
    if (shard != nullptr) {
        (void)list.close();  // never committed: the list stays as it is
        result = end_shard_results(*shard, report, update_shard_end(*shard));
        return result == status::ok ? exit_status : to_int(result);
    }
    return commit_update(settings, report, list, exit_status, hashing.changed + run.dropped > 0);
}

int commit_update(const run_settings& settings, reporter& report, container& list, int exit_status,
                  bool changed) {
    if (!changed) {
        // Nothing to change: the list stays untouched, its remembered
        // verifications and its times with it.
        (void)list.close();
        return exit_status;
    }
    forget_failure_cause();
    const status result = from_int(list.commitUpdate());
    if (result != status::ok) {
        report.update_refused(settings.checksum_file.c_str(), result);
        return to_int(result);
    }
    return exit_status;
}

}  // namespace korvane::app
