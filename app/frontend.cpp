#include "frontend.h"

#include <korvane/cmdline.h>
#include <korvane/container.h>
#include <korvane/digest_list.h>
#include <korvane/jobs.h>
#include <korvane/list_types.h>
#include <korvane/sfv.h>
#include <korvane/version.h>

#include <cwchar>
#include <memory>
#include <string>

#include "expand.h"
#include "jobs.h"
#include "json_report.h"
#include "merge.h"
#include "name_list.h"
#include "output.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/text.h"
#include "report.h"
#include "runs.h"
#include "update.h"

namespace korvane::app {

namespace {

const std::wstring& version_text() {
    static const std::wstring text = korvane::platform::widen(g_version);
    return text;
}

void print_banner(const wchar_t* program) {
    print(L"%s  version %s\n", {program, version_text().c_str()});
    print(L"Copyright (C) 2026 The Korvane Developers.\n");
    print(L"This is free software; it comes with ABSOLUTELY NO WARRANTY.\n");
    print(L"%s home page: https://korvane.org/\n", {program});
}

bool is(const wchar_t* name, const wchar_t* option) {
    return option != nullptr && std::wcscmp(name, option) == 0;  // some have no short name
}

pass_result end_with(int status) {
    return {true, status};
}

pass_result usage_error() {
    print_usage();
    return end_with(to_int(status::invalid_arguments));
}

// The value of an option: its own "=" part, or (where allowed) the name of the
// following token, which is then consumed.
bool take_value(cmdline& args, cmdline::arg*& token, int& index, bool may_take_next,
                const wchar_t*& value) {
    if (token->value != nullptr) {
        value = token->value;
        return true;
    }
    cmdline::arg* next = may_take_next ? args.get_next_arg(token) : nullptr;
    if (next == nullptr) {
        return false;
    }
    value = next->name;
    token = next;
    ++index;
    return true;
}

// What an option does with its value (null for an option without one); a
// finished result ends the pass.
using option_action = pass_result (*)(run_settings& settings, const wchar_t* value,
                                      const wchar_t* program);

struct option {
    const wchar_t* short_name;
    const wchar_t* long_name;
    const wchar_t* other_long_name;  // or null
    bool takes_value;                // only the short name takes it from the next element
    option_action action;
};

pass_result create_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    settings.has_target = true;
    settings.creation_target = value;
    int type = type_from_name(value);
    if (!settings.type_forced && type != -1) {
        settings.type = type;
    }
    return {};
}

pass_result type_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    int type = type_from_word(value);
    if (type == -1) {
        return usage_error();
    }
    settings.type = type;
    settings.type_forced = true;
    return {};
}

pass_result jobs_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    settings.jobs = parse_jobs(value);
    if (settings.jobs == 0) {
        return usage_error();
    }
    return {};
}

pass_result parent_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    // An empty parent would silently turn every entry into an absolute path
    // below "/".
    if (*value == L'\0') {
        return usage_error();
    }
    settings.has_parent = true;
    settings.parent = value;
    return {};
}

pass_result update_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    settings.update = true;
    if (value != nullptr) {
        if (*value == L'\0') {
            return usage_error();
        }
        settings.has_checksum_file = true;
        settings.checksum_file = value;
        settings.update_list_named = true;
        if (const int type = type_from_name(value); !settings.type_forced && type != -1) {
            settings.type = type;
        }
    }
    return {};
}

pass_result exclude_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    if (*value == L'\0') {
        return usage_error();
    }
    // Taken before the pass (collect_early_options), so that a pattern holds for
    // the file arguments before it too; here it is only checked.
    (void)settings;
    return {};
}

pass_result shard_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    // Taken before the pass (collect_early_options), so that the walk of a
    // file argument before it hashes this shard's files only.
    shard_choice choice;
    if (!parse_shard(value, choice)) {
        print_error(L"--shard=%s: not a shard: K/N (K from 1 to N, N at most %d) or auto\n",
                    {value, static_cast<int>(max_shards)});
        return end_with(to_int(status::invalid_arguments));
    }
    (void)settings;
    return {};
}

pass_result results_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    if (*value == L'\0') {
        return usage_error();
    }
    settings.results = value;
    return {};
}

pass_result files_from_option(run_settings& settings, const wchar_t* value, const wchar_t*) {
    if (*value == L'\0') {
        return usage_error();
    }
    settings.files_from.emplace_back(value);
    return {};
}

// An option that only switches a setting on.
template <bool run_settings::*setting>
pass_result switch_on(run_settings& settings, const wchar_t*, const wchar_t*) {
    settings.*setting = true;
    return {};
}

const option options[] = {
    {L"-c", L"--create", nullptr, true, create_option},
    {L"-t", L"--type", nullptr, true, type_option},
    {L"-r", L"--recursive", nullptr, false, switch_on<&run_settings::recursive>},
    {L"-q", L"--quiet", nullptr, false, switch_on<&run_settings::quiet>},
    {L"-a", L"--doall", L"--all", false, switch_on<&run_settings::doall>},
    {nullptr, L"--audit", nullptr, false, switch_on<&run_settings::audit>},
    {L"-u", L"--update", nullptr, false, update_option},
    {nullptr, L"--prune", nullptr, false, switch_on<&run_settings::prune>},
    {L"-j", L"--jobs", nullptr, true, jobs_option},
    {L"-x", L"--one-file-system", nullptr, false, switch_on<&run_settings::one_file_system>},
    {L"-T", L"--record-times", nullptr, false, switch_on<&run_settings::record_times>},
    {nullptr, L"--json", nullptr, false, switch_on<&run_settings::json>},
    {nullptr, L"--ignore-missing", nullptr, false, switch_on<&run_settings::ignore_missing>},
    {nullptr, L"--status", nullptr, false, switch_on<&run_settings::status_only>},
    {nullptr, L"--strict", nullptr, false, switch_on<&run_settings::strict>},
    {L"-w", L"--warn", nullptr, false, switch_on<&run_settings::warn>},
    {L"-z", L"--zero", nullptr, false, switch_on<&run_settings::zero>},
    {nullptr, L"--exclude", nullptr, true, exclude_option},
    {nullptr, L"--files-from", nullptr, true, files_from_option},
    {nullptr, L"--null", nullptr, false, switch_on<&run_settings::null_separated>},
    {nullptr, L"--shard", nullptr, true, shard_option},
    {nullptr, L"--results", nullptr, true, results_option},
    {nullptr, L"--merge", nullptr, false, switch_on<&run_settings::merge>},
    {L"-h", L"--help", nullptr, false,
     [](run_settings&, const wchar_t*, const wchar_t*) -> pass_result {
         print_usage();
         return end_with(0);
     }},
    {L"-V", L"--version", nullptr, false,
     [](run_settings&, const wchar_t*, const wchar_t* program) -> pass_result {
         print_version(program);
         return end_with(0);
     }},
    {L"-p", L"--parent", nullptr, true, parent_option},
};

const option* find_option(const wchar_t* name) {
    for (const option& candidate : options) {
        if (is(name, candidate.short_name) || is(name, candidate.long_name) ||
            (candidate.other_long_name != nullptr && is(name, candidate.other_long_name))) {
            return &candidate;
        }
    }
    return nullptr;
}

// "sfv, md5, sha1, sha256 or sha512": the words -t takes.
std::wstring type_words() {
    std::wstring words;
    const int count = list_type::count();
    for (int type = 0; type < count; ++type) {
        if (type > 0) {
            words += type + 1 < count ? L", " : L" or ";
        }
        words += type_row(type).word;
    }
    return words;
}

}  // namespace

status settle_type_by_content(run_settings& settings, reporter& report) {
    // Only a list to verify whose name says nothing is judged by what it holds.
    if (settings.has_target || !settings.has_checksum_file || settings.type_forced ||
        type_from_name(settings.checksum_file.c_str()) != -1) {
        return status::ok;
    }
    int format = -1;
    status result = from_int(container::detectFormat(settings.checksum_file.c_str(), &format));
    if (result == status::invalid_line) {
        // Read as some type anyway, it would only yield a run over nonsense names.
        report.unknown_list_format(settings.checksum_file.c_str());
        return result;
    }
    // A list that cannot be read fails when the run opens it; one without any
    // entry stays an SFV list, as before.
    if (result == status::ok && format >= 0) {
        settings.type = format;
        settings.type_from_content = true;
    }
    return status::ok;
}

namespace {

// --shard=auto: the shard the scheduler's environment names.
bool shard_from_environment_of_task(shard_choice& choice) {
    const shard_from_environment found = shard_of_environment(
        [](const char* name) { return korvane::platform::get_environment(name); });
    if (!found.error.empty()) {
        print_error(L"--shard=auto: %s\n", {found.error.c_str()});
        return false;
    }
    choice.index = found.index;
    choice.count = found.count;
    if (!found.also_set.empty()) {
        // GNU parallel inside a Slurm task, say: the job's number is the
        // innermost, and the one meant.
        print_error(L"--shard=auto: shard %d/%d of %s (the innermost; also set: %s)\n",
                    {static_cast<int>(found.index), static_cast<int>(found.count),
                     found.scheduler.c_str(), found.also_set.c_str()});
    }
    return true;
}

// A --shard the pass will meet: a malformed one is said then; false when
// --shard=auto finds no shard (said).
bool take_shard(const wchar_t* value, run_settings& settings) {
    shard_choice choice;
    if (value == nullptr || !parse_shard(value, choice)) {
        return true;
    }
    if (choice.automatic && !shard_from_environment_of_task(choice)) {
        return false;
    }
    settings.shard = choice;
    return true;
}

}  // namespace

// Options that hold for the file arguments before them too: --exclude,
// --shard and --merge. False when --shard=auto finds no shard (said).
bool collect_early_options(cmdline& args, run_settings& settings) {
    for (cmdline::arg* token = args.get_next_arg(nullptr); token != nullptr;
         token = args.get_next_arg(token)) {
        const option* known = find_option(token->name);
        if (known != nullptr && is(token->name, L"--merge")) {
            settings.merge = true;
        }
        if (known == nullptr || !known->takes_value) {
            continue;
        }
        if (is(token->name, L"--shard") && !take_shard(token->value, settings)) {
            return false;
        }
        if (token->value == nullptr && is(token->name, known->short_name)) {
            token = args.get_next_arg(token);  // the value of "-c LIST" is no option
            if (token == nullptr) {
                break;
            }
            continue;
        }
        if (is(token->name, L"--exclude") && token->value != nullptr && *token->value != L'\0') {
            settings.excludes.add(token->value);
        }
    }
    return true;
}

pass_result option_pass(cmdline& args, wchar_t** argv, run_settings& settings,
                        const std::function<int(const wchar_t*)>& file_argument) {
    if (!collect_early_options(args, settings)) {
        return end_with(to_int(status::invalid_arguments));
    }
    int index = 1;  // argv element of the current token
    for (cmdline::arg* token = args.get_next_arg(nullptr); token != nullptr;
         token = args.get_next_arg(token), ++index) {
        const option* known = find_option(token->name);
        if (known == nullptr) {
            // A file argument is the whole element: "date=2020-01-01" is a name.
            if (int status = file_argument(argv[index]); status != 0) {
                return end_with(status);
            }
            continue;
        }
        // An option without a value of its own may still take an "=" part
        // (--update=LIST); the others ignore it.
        const wchar_t* value = known->takes_value ? nullptr : token->value;
        if (known->takes_value &&
            !take_value(args, token, index, is(token->name, known->short_name), value)) {
            return usage_error();
        }
        if (pass_result outcome = known->action(settings, value, argv[0]); outcome.finished) {
            return outcome;
        }
    }
    return {};
}

void print_usage() {
    print_banner(L"korvane");
    print(L"\n%s is a fast file checksum creation and validation tool.\n\n", {L"korvane"});
    print(L"Usage: %s [OPTIONS] checksum_file\n", {L"korvane"});
    print(L"  or   %s [OPTIONS] -c checksum_file file1 file2 ...\n", {L"korvane"});
    print(L"  or   %s [OPTIONS] -u checksum_file [file1 file2 ...]\n", {L"korvane"});
    print(L"\nOptions\n");
    print(L"-a, --all              always verify all files\n");
    print(
        L"    --audit            also report the files below the list's folder that it does "
        L"not name\n");
    print(L"-c, --create=FILE      create the checksum file and write to FILE\n");
    print(
        L"    --exclude=PATTERN  leave out names matching PATTERN (*, ?, **; ending in /: "
        L"folders)\n");
    print(L"    --files-from=FILE  also the files FILE names, one a line (- for standard input)\n");
    print(L"    --ignore-missing   verification: leave out files that are missing\n");
    print(L"-j, --jobs=N           hash up to N files at once (default: one per CPU)\n");
    print(L"    --json             print the results as JSON Lines, one object per line\n");
    print(L"    --merge            one run's output, list and exit status from its shards'\n");
    print(L"                       files: LIST RESULTS... or -c LIST PARTS...\n");
    print(L"    --null             --files-from names end with a zero byte (find -print0)\n");
    print(
        L"-p, --parent=DIR       assume DIR is the root directory for all files in the "
        L"database\n");
    print(L"    --prune            an update drops the entries of files that are gone\n");
    print(L"-q, --quiet            suppress non-error messages\n");
    print(L"-r, --recursive        recursively add sub-directories\n");
    print(L"    --results=FILE     a verification or update shard's results, for --merge\n");
    print(L"    --shard=K/N        check or hash only shard K of N (or auto: the scheduler's)\n");
    print(L"    --status           verification: print nothing, the exit status tells\n");
    print(L"    --strict           verification: improperly formatted lines fail the run\n");

    print(
        L"-t, --type=TYPE        force checksum file of type TYPE (default based on file "
        L"extension)\n");
    print(L"                       TYPE is %s\n", {type_words().c_str()});
    print(L"-T, --record-times     record each file's size and modification time in MD5 and\n");
    print(L"                       SHA lists too (SFV lists always do)\n");
    print(L"-u, --update[=FILE]    update the checksum file: add new files, hash changed\n");
    print(L"                       ones again, keep the entries of files gone\n");
    print(L"-V, --version          show version\n");
    print(L"-w, --warn             verification: name each improperly formatted line\n");
    print(L"-x, --one-file-system  don't cross filesystem boundaries\n");
    print(L"-z, --zero             end each result with NUL, names unescaped\n");
    print(L"\nExamples\n");
    print(L"  %s --audit photos.sfv       verify, and name the files the list lacks\n",
          {L"korvane"});
    print(L"  %s -u photos.sfv            add new files, hash changed ones again\n", {L"korvane"});
    print(L"  %s -u --prune backup.sha256 the same, and drop the entries of files gone\n",
          {L"korvane"});
    print(L"  %s --status --ignore-missing SHA256SUMS  check what is here, say nothing\n",
          {L"korvane"});
}

void print_version(const wchar_t* program) {
    print_banner(program);
}

namespace {

// How a hashed file goes into the list: with the size and time the hashing
// took (no second look-up) where the list keeps them.
entry_adder adder_for(container& list, sfv* tagged, digest_list* digests,
                      container* made = nullptr) {
    auto* const part = dynamic_cast<creation_part*>(made);
    return [&list, tagged, digests, part](const wchar_t* name, const unsigned char* digest,
                                          std::uint64_t size, std::uint64_t write_time) {
        if (part != nullptr) {
            return part->addFile(name, digest, size, write_time);
        }
        if (tagged != nullptr) {
            return tagged->addFile(name, digest, size, write_time);
        }
        if (digests != nullptr) {
            return digests->addFile(name, digest, size, write_time);
        }
        return list.addFile(name, digest);
    };
}

int update_mode(const run_settings& settings, reporter& report, container& list, sfv* tagged,
                digest_list* digests, expansion_state& state) {
    // Every file argument but the list is a file to add or refresh (one met
    // before -u was expanded as a verification's and is gone). Those names
    // resolve against the current folder, so not together with -p.
    const int listed_by_argument = settings.update_list_named ? 0 : 1;
    const auto named = static_cast<int>(settings.update_files.size());
    if (settings.has_target || !settings.has_checksum_file ||
        settings.file_arguments != named + listed_by_argument ||
        (named > 0 && settings.has_parent)) {
        print_usage();
        return to_int(status::invalid_arguments);
    }
    const entry_adder add_entry = adder_for(list, tagged, digests);
    results_writer results;
    list_shard shard;
    if (settings.shard.on) {
        shard.index = settings.shard.index;
        shard.count = settings.shard.count;
        const status begun =
            begin_shard_results(settings, report, shard, results,
                                korvane::platform::system_time_ticks(), state.path_buffer);
        if (begun != status::ok) {
            return to_int(begun);
        }
        if (tagged != nullptr) {
            tagged->leaveTagUnwritten();
        }
    }
    file_jobs jobs(choose_jobs(settings.jobs), algorithm_for(settings.type));
    return update_run(settings, report, list, jobs, add_entry, state,
                      settings.shard.on ? &shard : nullptr);
}

// Names from a list go to the update (which expands its named files itself)
// or to a creation, after the file arguments' files; 0 to go on, or the exit
// status.
int take_name_lists(run_settings& settings, expansion_state& state, reporter& report) {
    if (settings.files_from.empty() || settings.update) {
        return 0;
    }
    if (!settings.has_target) {
        print_usage();
        return to_int(status::invalid_arguments);
    }
    return to_int(read_name_lists(settings, state, report, [&](const wchar_t* name) {
        return expand_argument(name, settings, state, report, true);
    }));
}

int verification_mode(const run_settings& settings, reporter& report, container& list, sfv* tagged,
                      expansion_state& state) {
    // A shard's verdicts hold since it started; its results file goes when
    // the run ends early, so that no merge takes the part checked for all.
    const std::uint64_t started = korvane::platform::system_time_ticks();
    results_writer results;
    list_shard shard;
    if (settings.shard.on) {
        shard.index = settings.shard.index;
        shard.count = settings.shard.count;
        if (const status begun =
                begin_shard_results(settings, report, shard, results, started, state.path_buffer);
            begun != status::ok) {
            return to_int(begun);
        }
        if (tagged != nullptr) {
            tagged->leaveTagUnwritten();  // the merge writes it, once
        }
    }
    // Built after the lists and the paths, so that it goes first: no worker
    // touches a path once the run has returned.
    file_jobs jobs(choose_jobs(settings.jobs), algorithm_for(settings.type));
    verified_query previously_verified = [&](std::int64_t index, const wchar_t* path) {
        // The list's own position moves only with each reported outcome,
        // behind the entries read ahead.
        return tagged == nullptr ? list.isPreviouslyVerified(path)
                                 : tagged->isPreviouslyVerifiedAt(index, path);
    };
    untrusted_query untrusted_file_system = [&]() -> const wchar_t* {
        return tagged == nullptr ? nullptr : tagged->untrustedFileSystem();
    };
    return verification_run(settings, report, list, jobs, previously_verified, state,
                            untrusted_file_system, settings.shard.on ? &shard : nullptr);
}

// What --shard and --merge do not go with; 0, or the exit status (said).
int refuse_shard_mix(const run_settings& settings) {
    const wchar_t* refusal = nullptr;
    if (settings.merge && settings.shard.on) {
        refusal = L"--merge takes the shards' files; it is no shard itself\n";
    } else if (settings.merge && settings.update && settings.has_target) {
        refusal = L"--merge: an update's list (-u) or a creation's (-c), not both\n";
    } else if ((settings.merge || settings.shard.on) && settings.update &&
               (!settings.update_files.empty() || !settings.files_from.empty())) {
        refusal = L"--shard and --merge split an update of the whole folder, not of files named\n";
    } else if (!settings.results.empty() && (!settings.shard.on || settings.has_target)) {
        refusal = L"--results names a verification or update shard's results (with --shard)\n";
    } else if (settings.merge &&
               settings.merge_inputs.size() <
                   (settings.has_target || settings.update_list_named ? 1U : 2U)) {
        refusal = L"--merge: name the list, then the shards' files\n";
    }
    if (refusal == nullptr) {
        return 0;
    }
    print_error(refusal);
    return to_int(status::invalid_arguments);
}

// A file argument: the list, a file to expand, a file an update names, or a
// shard's file to merge. 0, or the status that ends the program.
int file_argument_met(const wchar_t* argument, run_settings& settings, expansion_state& state,
                      reporter& report, std::wstring& first_argument) {
    end_records_with_nul(settings.zero);
    if (settings.file_arguments++ == 0) {
        first_argument = argument;
    }
    settings.given_arguments += argument;
    settings.given_arguments += L'\0';
    if (settings.merge) {
        settings.merge_inputs.emplace_back(argument);
        return 0;
    }
    if (settings.update && settings.has_checksum_file) {
        settings.update_files.push_back({argument, settings.recursive, settings.one_file_system});
        return 0;
    }
    return to_int(expand_argument(argument, settings, state, report));
}

}  // namespace

int run(int argc, wchar_t** argv) {
    // Built in this order and destroyed in reverse on every way out.
    expansion_state state;
    cmdline args(argc, argv);

    run_settings settings;
    console_reporter console(settings);
    json_reporter json;
    chosen_reporter chosen(settings, console, json);
    reporter& report = chosen;
    // After the paths, so that it goes first: no worker touches a path once
    // the run has returned.
    early_hashing early;
    found_places shard_places;  // a creation shard's files, by their places in the walk
    early.shard_places = &shard_places;
    early.attach(state, settings, report);
    std::wstring first_argument;  // what a list that matched nothing was called
    pass_result pass = option_pass(args, argv, settings, [&](const wchar_t* argument) {
        return file_argument_met(argument, settings, state, report, first_argument);
    });
    if (pass.finished) {
        return pass.status;
    }
    end_records_with_nul(settings.zero);
    if (const int refused = refuse_shard_mix(settings); refused != 0) {
        return refused;
    }
    take_merge_list(settings);
    if (const int listed = take_name_lists(settings, state, report); listed != 0) {
        return listed;
    }

    if (status result = settle_type_by_content(settings, report); result != status::ok) {
        report.program_ended(to_int(result));
        return to_int(result);
    }
    const list_type& type = type_row(settings.type);
    // A creation shard writes its part, not the list.
    const std::unique_ptr<container> made =
        settings.shard.on && settings.has_target && !settings.merge
            ? std::unique_ptr<container>(new (std::nothrow) creation_part(settings, shard_places))
            : type.make_list();
    if (made == nullptr) {
        report.out_of_memory();
        report.program_ended(to_int(status::unknown_error));
        return to_int(status::unknown_error);
    }
    container& list = *made;
    // A list that carries a tag takes each file's size and time, and says
    // what verified on earlier runs.
    sfv* const tagged = type.carries_tag ? dynamic_cast<sfv*>(&list) : nullptr;
    // A digest list takes them when it records them.
    digest_list* const digests = tagged == nullptr ? dynamic_cast<digest_list*>(&list) : nullptr;

    int exit_status = 0;
    const entry_adder add_entry = adder_for(list, tagged, digests, made.get());
    if (digests != nullptr && settings.record_times && settings.has_target && !settings.update) {
        digests->writeRecords(true);  // a new list, made or merged
    }
    if (settings.merge) {
        exit_status = merge_run(settings, report, list, add_entry, state);
    } else if (settings.update) {
        exit_status = update_mode(settings, report, list, tagged, digests, state);
    } else if (settings.has_target) {
        exit_status = to_int(creation_run(settings, report, list, add_entry, state, early));
    } else if (settings.has_checksum_file) {
        exit_status = verification_mode(settings, report, list, tagged, state);
    } else if (settings.check_flags() && !first_argument.empty()) {
        // A script that asks for a check of a list that is not there must
        // not read success in a usage text.
        report.list_failed(list_step::open, first_argument.c_str(), status::file_not_found);
        exit_status = to_int(status::file_not_found);
    } else {
        print_usage();
        return exit_status;
    }
    early.stop();  // its workers let go of the paths before they are freed
    state.release();
    report.program_ended(exit_status);
    return exit_status;
}

}  // namespace korvane::app
