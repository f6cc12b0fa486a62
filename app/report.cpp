#include "report.h"

#include <korvane/list_types.h>

#include <chrono>
#include <cstring>
#include <string>

#include "output.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/env.h"
#include "platform/text.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

// Digests as lists of the run's type write them (an SFV list: eight
// upper-case digits of the value), so that they compare with the list and
// with other tools.
std::wstring digest_text(int type, const digest_bytes& digest) {
    wchar_t text[list_type::digest_text_room];
    type_row(type).digest_text(digest.bytes, text);
    return text;
}

// "YYYY-MM-DD HH:MM:SS" of 100-ns ticks since 1601 UTC, in the local zone;
// "an unknown time" when the system cannot say.
std::wstring local_time_text(std::uint64_t ticks) {
    platform::calendar_time when{};
    if (!platform::local_time_of(ticks, when)) {
        return L"at an unknown time";
    }
    return calendar_text(when, L' ', L"");
}

}  // namespace

namespace {

std::uint64_t steady_ms() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Redraws a second apart at most ten times: the line costs a run of small
// files a clock reading per file and a few writes a second.
constexpr std::uint64_t line_interval_ms = 100;

}  // namespace

bool console_reporter::line_wanted(run_kind kind) const {
    if (kind == run_kind::update || settings_.quiet || settings_.status_only || settings_.zero ||
        settings_.json) {
        return false;
    }
    const auto off = platform::get_environment("KORVANE_PROGRESS_LINE");
    if (off && *off == "0") {
        return false;
    }
    return platform::console_can_erase_line(platform::console_stream::out);
}

void console_reporter::run_started(const run_facts& run) {
    run_ = run;
    line_on_ = line_wanted(run.kind);
    started_ms_ = steady_ms();
    if (run.kind == run_kind::creation) {
        meter_.all_counted();  // the walk is done before the run reports
    }
}

void console_reporter::refresh_line() {
    const std::uint64_t now = steady_ms() - started_ms_;
    // Nothing for a run over in a blink; then ten times a second at most.
    if (now < line_interval_ms || (drawn_ && now - drawn_ms_ < line_interval_ms)) {
        return;
    }
    drawn_ = true;
    drawn_ms_ = now;
    int columns = platform::console_columns(platform::console_stream::out);
    columns = columns > 0 ? columns : 80;
    progress_figures figures = meter_.figures(now);
    figures.current = current_.empty() ? nullptr : current_.c_str();
    // One column to spare: a character in the last column leaves some
    // terminals waiting to wrap.
    show_status_line(progress_text(figures, static_cast<std::size_t>(columns - 1)));
}

void console_reporter::program_ended(int) {
    clear_status_line();
}

bool console_reporter::wants_progress() const {
    // Progress lines end in a carriage return, which NUL-ended records and a
    // silent standard output have no room for.
    return !settings_.quiet && !settings_.status_only && !settings_.zero;
}

void console_reporter::file_started(const wchar_t* path) {
    progress_shown_ = false;
    if (line_on_) {
        current_ = path;
        meter_.file_started();
    }
}

void console_reporter::file_progress(const wchar_t* path, int percent) {
    if (settings_.quiet) {
        return;
    }
    if (line_on_) {
        meter_.file_progress(percent);  // shown in the progress line, not a line of its own
        refresh_line();
        return;
    }
    print_now(L"%s: %d%% complete\r", {path, percent});
    progress_shown_ = true;
}

// A created entry's line ends there; a verified one's verdict overwrites it.
void console_reporter::file_hashed(const wchar_t* path) {
    if (settings_.quiet || settings_.status_only) {
        return;
    }
    if (settings_.zero) {
        // Records only: a created entry's line, no line a verdict overwrites.
        if (run_.kind == run_kind::creation) {
            print(L"%s: 100%% complete\n", {path});
        }
        return;
    }
    if (line_on_ && run_.kind != run_kind::creation) {
        return;  // the verdict follows at once; the progress line said the rest
    }
    const wchar_t* line =
        run_.kind == run_kind::creation ? L"%s: 100%% complete\n" : L"%s: 100%% complete\r";
    // After progress lines the last one goes out at once too.
    if (progress_shown_) {
        print_now(line, {path});
    } else {
        print(line, {path});
    }
    progress_shown_ = false;
}

void console_reporter::mismatch(const file_outcome& outcome) {
    const std::wstring stored = digest_text(run_.type, outcome.expected);
    const std::wstring actual = digest_text(run_.type, outcome.actual);
    print(L"%s: hash mismatch: %s != %s\n", {outcome.path, stored.c_str(), actual.c_str()});
    if (outcome.diagnosis == mismatch_cause::damaged) {
        print(L"%s: damaged (size and time as listed)\n", {outcome.path});
    } else if (outcome.diagnosis == mismatch_cause::changed) {
        print(L"%s: changed (modified %s)\n",
              {outcome.path, local_time_text(outcome.write_time).c_str()});
    }
}

void console_reporter::file_done(const file_outcome& outcome) {
    if (settings_.status_only) {
        return;  // the exit status tells
    }
    show_outcome(outcome);
    if (line_on_) {
        const bool hashed = outcome.what == verdict::ok || outcome.what == verdict::mismatch ||
                            outcome.what == verdict::added;
        meter_.file_done(hashed ? outcome.size : 0);
        current_.clear();
        refresh_line();
    }
}

void console_reporter::show_outcome(const file_outcome& outcome) {
    const wchar_t* path = outcome.path;
    switch (outcome.what) {
        case verdict::ok:
            if (!settings_.quiet) {
                // The blanks cover a progress line, which NUL-ended records lack.
                print(settings_.zero ? L"%s: Ok\n" : L"%s: Ok                   \n", {path});
            }
            break;
        case verdict::previously_verified:
            if (!settings_.quiet) {
                print(L"%s: Previously verified Ok\n", {path});
            }
            break;
        case verdict::mismatch:
            mismatch(outcome);
            break;
        case verdict::file_error:
            print(L"%s: File error: %s\n", {path, status_message(outcome.cause)});
            break;
        case verdict::outside_signed_text:
            print(L"%s: %s\n", {path, status_message(status::outside_signed_text)});
            break;
        case verdict::added:
            break;  // its "100% complete" line said it
        case verdict::not_added:
            // A list that could not take the entry may name what the disk
            // said (a full disk), which the bare status would not.
            print(L"Error adding file %s: %s\n", {path, failure_message(outcome.cause)});
            break;
    }
}

// On standard error, also when quiet: the verdict may not be what the list's
// writer meant.
void console_reporter::irregular_checksum(std::uint64_t line) {
    const std::wstring number = std::to_wstring(line);
    print_error(L"%s: line %s: checksum field is not 8 hexadecimal digits\n",
                {run_.list_path != nullptr ? run_.list_path : L"", number.c_str()});
}

// Shown also when quiet: an unlisted file fails the audit.
void console_reporter::file_not_listed(const wchar_t* name) {
    if (settings_.status_only) {
        return;
    }
    print(L"%s: Not in list\n", {name});
}

void console_reporter::audit_refused(const wchar_t* list_path) {
    print(
        L"%s: not one listed file is where its names resolve (another folder, or a volume "
        L"not mounted?); nothing audited\n",
        {list_path});
}

void console_reporter::entry_updated(const wchar_t* name, update_verdict what) {
    if (settings_.status_only) {
        return;
    }
    if (settings_.quiet && what != update_verdict::missing_kept) {
        return;
    }
    const wchar_t* text = L"added";
    if (what == update_verdict::updated) {
        text = L"updated";
    } else if (what == update_verdict::missing_kept) {
        text = L"missing, kept";
    } else if (what == update_verdict::removed) {
        text = L"removed";
    }
    print(L"%s: %s\n", {name, text});
}

void console_reporter::update_refused(const wchar_t* list_path, status why) {
    switch (why) {
        case status::outside_signed_text:
            print_error(L"%s: signed list, not updated\n", {list_path});
            break;
        case status::utf16_list:
            print_error(L"%s: UTF-16 list, not updated\n", {list_path});
            break;
        case status::list_changed:
            print_error(L"%s: changed during the update, not written\n", {list_path});
            break;
        case status::file_not_found:
            print_error(
                L"%s: not one listed file is where its names resolve (another folder, or a "
                L"volume not mounted?); nothing updated\n",
                {list_path});
            break;
        default:
            print_error(L"%s: %s, not updated\n", {list_path, failure_message(why)});
            break;
    }
}

void console_reporter::run_halted(const wchar_t* path, halt_reason why) {
    const wchar_t* reason = status_message(status::unknown_error);  // no workers
    if (why == halt_reason::out_of_memory) {
        reason = L"Out of memory";
    } else if (why == halt_reason::out_of_descriptors) {
        reason = L"Too many open files";
    }
    print(L"Error processing file %s: %s\n", {path, reason});
}

namespace {

// A list type as the messages name it: "SFV", "XXH3".
std::wstring upper_word(int type) {
    const list_type* row = list_type::at(type);
    std::wstring word = row != nullptr ? row->word : L"";
    for (wchar_t& c : word) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return word;
}

}  // namespace

std::vector<int> types_to_try(const run_facts& run, const verification_tally& tally) {
    if (!run.type_from_content || tally.matched != 0 || tally.mismatches == 0) {
        return {};
    }
    return types_alike(run.type);
}

void console_reporter::walk_problem_met(const walk_problem& problem) {
    const wchar_t* path = problem.path;
    switch (problem.what) {
        case walk_issue::directory_loop:
            print_error(L"Skipping directory loop: %s\n", {path});
            break;
        case walk_issue::unreadable_file:
            print_error(L"Access denied to %s\n", {path});
            break;
        case walk_issue::stat_failed:
            if (problem.file_argument) {
                print_error(L"Could not stat file: %s\n", {path});
            } else {
                print_error(L"Could not stat file %s: %s\n", {path, status_message(problem.cause)});
            }
            break;
        case walk_issue::unlistable_directory:
            // Without a line end, as it has always been written.
            print_error(L"Error reading directory %s: %s", {path, status_message(problem.cause)});
            break;
        case walk_issue::name_too_long:
            print_error(L"Name too long, skipped: %s...\n", {path});
            break;
        case walk_issue::unreadable_name_list:
            print_error(L"Error reading list of names %s: %s\n",
                        {path, status_message(problem.cause)});
            break;
        case walk_issue::unstorable_name:
            print_error(L"%s: cannot be stored in an %s list (line break in the name)\n",
                        {path, upper_word(problem.list_type).c_str()});
            break;
    }
}

void console_reporter::list_failed(list_step step, const wchar_t* list_path, status cause) {
    switch (step) {
        case list_step::create:
            print(L"Error creating sfv file: %s\n", {failure_message(cause)});
            break;
        case list_step::read:
            // With the results: the verdicts it leaves unsaid belong there.
            print(L"%s: %s\n", {list_path, failure_message(cause)});
            break;
        case list_step::open:
        case list_step::save:
            print_error(L"%s: %s\n", {list_path, failure_message(cause)});
            break;
    }
}

void console_reporter::scratch_failed(const wchar_t* place, status cause, int error_number) {
    print_error(L"%s: %s\n", {place, write_failure_message(error_number, cause)});
}

void console_reporter::unknown_list_format(const wchar_t* list_path) {
    print_error(L"%s: unknown checksum list format\n", {list_path});
}

void console_reporter::path_too_long() {
    print_error(L"Path is too long\n");
}

void console_reporter::out_of_memory() {
    print_error(L"Out of memory\n");
}

void console_reporter::improper_line(const wchar_t* list_path, std::uint64_t line) {
    std::wstring word = type_row(run_.type).word;
    for (wchar_t& unit : word) {
        unit = unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
    }
    if (line == 0) {
        print_error(L"%s: improperly formatted %s checksum line\n", {list_path, word.c_str()});
        return;
    }
    const std::wstring number = std::to_wstring(line);
    print_error(L"%s: %s: improperly formatted %s checksum line\n",
                {list_path, number.c_str(), word.c_str()});
}

void console_reporter::nothing_verified(const wchar_t* list_path) {
    print_error(L"%s: no file was verified\n", {list_path});
}

void console_reporter::summary(const verification_tally& tally,
                               const wchar_t* untrusted_file_system) {
    clear_status_line();
    if (tally.improper > 0 && !settings_.status_only) {
        print_error(tally.improper == 1 ? L"%s: WARNING: %d line is improperly formatted\n"
                                        : L"%s: WARNING: %d lines are improperly formatted\n",
                    {run_.list_path, tally.improper});
    }
    if (settings_.status_only) {
        return;
    }
    if (untrusted_file_system != nullptr) {
        // Otherwise the next run's full check would look like a lost tag.
        print(
            L"Previously verified entries are not trusted on this file system (%s): it may "
            L"not keep a change time\n",
            {untrusted_file_system});
    }
    print(L"%d files checked\n", {tally.entries});
    if (tally.errors > 0) {
        print(L"%d errors detected\n", {tally.errors});
    }
    if (tally.damaged > 0) {
        // Damaged rather than edited: their content changed while their size
        // and time did not, which no program that saves a file does.
        print(L"%d damaged files detected: restore them from a backup\n", {tally.damaged});
    }
    if (tally.missing > 0) {
        print(L"%d missing files detected\n", {tally.missing});
    }
    if (tally.outside > 0) {
        print(L"%d lines outside the signed text\n", {tally.outside});
    }
    if (tally.unlisted > 0) {
        print(L"%d files not in list\n", {tally.unlisted});
    }
    if (tally.errors == 0 && tally.missing == 0 && tally.outside == 0 && tally.unlisted == 0 &&
        !tally.nothing_verified && !tally.improper_fails) {
        print(L"All files Ok\n");
    }
    suggest_types(tally);
}

// Lines of equally long digests that only a tag or the list's name tells
// apart: a guess that verified nothing may be the wrong type.
void console_reporter::suggest_types(const verification_tally& tally) {
    std::wstring options;
    for (const int type : types_to_try(run_, tally)) {
        options += options.empty() ? L"-t " : L" or -t ";
        options += type_row(type).word;
    }
    if (!options.empty()) {
        print(L"No file matched as %s, the type guessed from the list's lines: try %s\n",
              {upper_word(run_.type).c_str(), options.c_str()});
    }
}

namespace {

// The part of a merge problem's message after the file's name.
const wchar_t* merge_problem_text(merge_issue what) {
    switch (what) {
        case merge_issue::unreadable:
            return L"%s: %s\n";
        case merge_issue::damaged:
            return L"%s: line %d: not shard results as korvane writes them\n";
        case merge_issue::incomplete:
            return L"%s: shard %d/%d is incomplete: its run ended before its last line (the task "
                   L"died, or still runs)\n";
        case merge_issue::missing:
            return L"shard %d/%d is missing\n";
        case merge_issue::duplicate:
            return L"%s: shard %d/%d is given twice (also %s)\n";
        case merge_issue::other_kind:
            return L"%s: shard %d/%d is of another kind of run (a creation's part and a "
                   L"verification's results do not merge)\n";
        case merge_issue::other_count:
            return L"%s: shard %d/%d: the first file's run is split into %d shards\n";
        case merge_issue::other_list:
            return L"%s: shard %d/%d checked another list, or another version of %s\n";
        case merge_issue::other_type:
            return L"%s: shard %d/%d is of another list type\n";
        case merge_issue::other_run:
            return L"%s: shard %d/%d was run with other file arguments\n";
        case merge_issue::other_walk:
            return L"%s: shard %d/%d found other files than the other shards (the folders "
                   L"changed meanwhile): run the shards again\n";
        case merge_issue::other_settings:
            return L"%s: shard %d/%d was run with another -a than the others\n";
        case merge_issue::folder_differs:
            break;
    }
    return L"%s: shard %d/%d resolved the names in another folder: the verdicts are not "
           L"remembered\n";
}

}  // namespace

void console_reporter::merge_refused(const merge_problem& problem) {
    clear_status_line();
    const wchar_t* text = merge_problem_text(problem.what);
    const auto shard = static_cast<int>(problem.shard);
    const auto count = static_cast<int>(problem.count);
    switch (problem.what) {
        case merge_issue::unreadable:
            print_error(text, {problem.path, failure_message(problem.cause)});
            break;
        case merge_issue::damaged:
            print_error(text, {problem.path, static_cast<int>(problem.line)});
            break;
        case merge_issue::missing:
            print_error(text, {shard, count});
            break;
        case merge_issue::duplicate:
        case merge_issue::other_list:
            print_error(text, {problem.path, shard, count, problem.other});
            break;
        case merge_issue::other_count:
            print_error(text, {problem.path, shard, count, static_cast<int>(problem.line)});
            break;
        default:
            print_error(text, {problem.path, shard, count});
            break;
    }
}

}  // namespace korvane::app
