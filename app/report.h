// What the runs and the expansion tell the user, as events with their data:
// names, statuses, digest bytes and counts, never text. A reporter turns them
// into one form of output; the console reporter writes the lines a terminal
// shows, and another form (machine-readable output) is another reporter over
// the same events, so that no run exists twice.
#ifndef KORVANE_APP_REPORT_H
#define KORVANE_APP_REPORT_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "expand.h"
#include "progress.h"
#include "status.h"

namespace korvane::app {

enum class run_kind { creation, verification, update };

// A run about to start: what it does, on which list, of which type.
struct run_facts {
    run_kind kind;
    const wchar_t* list_path;
    int type;                        // the row of the table of list types
    bool type_from_content = false;  // guessed from the list's lines, not given by -t or a name
};

// A digest as bytes; how it is written is the reporter's business.
struct digest_bytes {
    const unsigned char* bytes = nullptr;
    std::size_t size = 0;
};

// What became of one entry of a run, in list order. Runs that compare a
// folder with its list, or bring a list up to date, add their verdicts here.
enum class verdict {
    ok,                   // hashed, and the digests agree
    previously_verified,  // not hashed: the list remembers that it verified
    mismatch,             // hashed, and the digests differ
    file_error,           // could not be hashed; `cause` file_not_found is a missing file
    outside_signed_text,  // a line of a signed list outside the signed text: never checked
    added,                // creation: hashed and taken into the list
    not_added,            // creation: hashed, but the list could not take it (`cause`)
};

// Why a file does not match, as far as its list's record of its size and
// modification time tells.
enum class mismatch_cause {
    unknown,  // the list records nothing of the file, or its time is unknown
    damaged,  // size and time as recorded: the content changed unseen
    changed,  // another size or time: saved since the list was made
};

struct file_outcome {
    const wchar_t* path = nullptr;
    verdict what = verdict::ok;
    status cause = status::ok;                           // file_error, not_added
    digest_bytes expected;                               // the list's digest: ok, mismatch
    digest_bytes actual;                                 // the file's: ok, mismatch, added
    std::uint64_t size = 0;                              // bytes hashed: ok, mismatch, added
    mismatch_cause diagnosis = mismatch_cause::unknown;  // mismatch
    std::uint64_t write_time = 0;  // mismatch, changed: the file's, 100-ns ticks since 1601 UTC
};

// What an update did with one file.
enum class update_verdict {
    added,         // not named by the list: hashed and added
    updated,       // its recorded size or time differ: hashed again, entry replaced
    missing_kept,  // gone: its entry stays
    removed,       // gone, and --prune: its entry dropped
};

// Why a file could not be hashed at all, which ends the run.
enum class halt_reason { no_workers, out_of_memory, out_of_descriptors };

// What the expansion passes over, or stops at, while finding the files.
enum class walk_issue {
    directory_loop,        // a directory that is its own ancestor: skipped
    unreadable_file,       // no read permission: left out
    stat_failed,           // `cause` (a file argument's failure comes without one)
    unlistable_directory,  // `cause`; ends the walk
    name_too_long,  // a name read from a list of names beyond the room for paths: passed over
    unreadable_name_list,  // `cause`: a list of names (--files-from) could not be read; ends the
                           // run
    unstorable_name,       // a name the list being written cannot hold (a line break in SFV)
};

struct walk_problem {
    walk_issue what;
    const wchar_t* path;
    status cause = status::ok;
    bool file_argument = false;  // named on the command line rather than found by the walk
    int list_type = 0;           // unstorable_name: the row of the list being written
};

// The step at which the list itself failed. The cause the library kept for
// the failure (failure_message) is still there while it is reported.
enum class list_step {
    create,  // a creation run's new list: the run ends
    open,    // the list to verify: the run ends
    read,    // a damaged line: the entries behind it go unchecked
    save,    // writing the list out (a creation) or its remembered verdicts
};

// The counts a verification ends with.
struct verification_tally {
    int entries = 0;
    int errors = 0;
    int missing = 0;
    int outside = 0;     // lines of a signed list outside its signed text
    int damaged = 0;     // mismatches whose size and time are as the list records them
    int unlisted = 0;    // files an audit found that the list does not name
    int improper = 0;    // improperly formatted lines skipped (check flags)
    int ignored = 0;     // missing files left unsaid (--ignore-missing)
    int matched = 0;     // entries that verified, now or before
    int mismatches = 0;  // entries hashed whose digests differ
    // --ignore-missing, and not one entry verified: the run fails.
    bool nothing_verified = false;
    // --strict, and improperly formatted lines met: the run fails.
    bool improper_fails = false;
};

// Why the results of shard runs (or a creation's parts) cannot be merged:
// each fails the merge, but for folder_differs, which only keeps the merge
// from remembering verdicts.
enum class merge_issue {
    unreadable,      // `cause`: could not be opened or read
    damaged,         // not results as korvane writes them, at `line`
    incomplete,      // no end line: the shard's task died, or still runs
    missing,         // shard `shard` of `count`: no file holds it
    duplicate,       // `path` holds a shard that `other` holds too
    other_kind,      // a creation's part given to a verification's merge, or the reverse
    other_count,     // split into another number of shards than the first file
    other_list,      // of another list, or of another version of it
    other_type,      // another list type
    other_run,       // a creation's part of other file arguments
    other_walk,      // a creation's part whose walk found other files
    other_settings,  // run with another -a than the others
    folder_differs,  // names resolved in another folder: nothing remembered
};

struct merge_problem {
    merge_issue what;
    const wchar_t* path = nullptr;
    std::uint32_t shard = 0;
    std::uint32_t count = 0;
    std::uint64_t line = 0;
    status cause = status::ok;
    const wchar_t* other = nullptr;
};

// The types to try when the type guessed from a list's content left every
// entry that was compared mismatching; empty otherwise.
std::vector<int> types_to_try(const run_facts& run, const verification_tally& tally);

class reporter {
  public:
    virtual ~reporter() = default;

    virtual void run_started(const run_facts& run) = 0;
    // Whether file_progress is wanted at all: a run that is not asked for it
    // waits for each file without looking in between.
    virtual bool wants_progress() const = 0;
    // The oldest file in flight, which the run now waits for; its progress
    // in percent, at most twice a second once it has taken a few seconds;
    // and its hashing done, whatever the outcome (reported next).
    virtual void file_started(const wchar_t* path) = 0;
    virtual void file_progress(const wchar_t* path, int percent) = 0;
    virtual void file_hashed(const wchar_t* path) = 0;
    virtual void file_done(const file_outcome& outcome) = 0;
    // For a progress line of the whole run: whether progress of the oldest
    // file is wanted every 100 ms from the start (with its size, told once
    // the wait goes on); every file the run will report, counted as the run
    // learns of it, with its size where the list records one; and the end of
    // the counting.
    virtual bool wants_frequent_progress() const { return false; }
    virtual void file_measured(std::uint64_t size) { (void)size; }
    virtual void files_counted(std::uint64_t files, std::uint64_t bytes, bool bytes_known) {
        (void)files;
        (void)bytes;
        (void)bytes_known;
    }
    virtual void files_all_counted() {}
    // The entry reported next stands on line `line` of the list, and its
    // checksum field is not in its format's regular form (an SFV checksum
    // that is not eight hexadecimal digits): read as ever, but perhaps not
    // as its writer meant.
    virtual void irregular_checksum(std::uint64_t line) = 0;
    virtual void run_halted(const wchar_t* path, halt_reason why) = 0;
    virtual void walk_problem_met(const walk_problem& problem) = 0;
    virtual void list_failed(list_step step, const wchar_t* list_path, status cause) = 0;
    // The scratch file that holds what a creation found, beside `place` (the
    // list, or the folder for temporary files), could not be made, written or
    // read: the run ends. `error_number` is what the OS said, or 0.
    virtual void scratch_failed(const wchar_t* place, status cause, int error_number) = 0;
    // A list to verify whose name gives no type, and whose content fits none.
    virtual void unknown_list_format(const wchar_t* list_path) = 0;
    // A path (the parent, or one the walk built) beyond the room for paths.
    virtual void path_too_long() = 0;
    virtual void out_of_memory() = 0;
    // An audit found a regular file the list does not name (`name` as a
    // creation in the list's folder would write it).
    virtual void file_not_listed(const wchar_t* name) = 0;
    // An audit found not one of the list's files where its names resolve:
    // the wrong folder, or a volume not mounted. Nothing is audited.
    virtual void audit_refused(const wchar_t* list_path) = 0;
    // What an update did with a file (`name` as the list names it).
    virtual void entry_updated(const wchar_t* name, update_verdict what) = 0;
    // An update that writes nothing: a signed list (outside_signed_text), one
    // changed meanwhile (list_changed), a UTF-16 list (utf16_list), not one
    // listed file found
    // (file_not_found), or the new list could not be written (its cause).
    virtual void update_refused(const wchar_t* list_path, status why) = 0;
    // The end of a verification; `untrusted_file_system` names the file
    // system on which remembered verdicts were not trusted, or is null.
    virtual void summary(const verification_tally& tally, const wchar_t* untrusted_file_system) = 0;
    // A line of the list that is no entry, skipped (check flags): `line` from
    // 1, or 0 when it cannot be told. Only with --warn.
    virtual void improper_line(const wchar_t* list_path, std::uint64_t line) {
        (void)list_path;
        (void)line;
    }
    // --ignore-missing, and not one entry verified: the run fails.
    virtual void nothing_verified(const wchar_t* list_path) { (void)list_path; }
    // The program is about to end with `exit_status`, after whatever run it
    // made (or none).
    virtual void program_ended(int exit_status) { (void)exit_status; }
    // Shard results that cannot be merged (or, folder_differs, a merge that
    // remembers nothing).
    virtual void merge_refused(const merge_problem& problem) { (void)problem; }
};

// A file that could not be hashed or looked at.
inline void report_file_error(reporter& report, const wchar_t* path, status failure) {
    file_outcome outcome;
    outcome.path = path;
    outcome.what = verdict::file_error;
    outcome.cause = failure;
    report.file_done(outcome);
}

// The lines of the console: results on standard output, buffered unless it is
// a terminal; progress lines rewritten in place with a carriage return and
// written at once; problems of the expansion and of the list's own file on
// standard error. Quiet runs show only what went wrong and the summary. Names
// with control characters are shown escaped (output.h).
class console_reporter final : public reporter {
  public:
    // `settings` are read at each event: an option later on the command line
    // still holds for the run.
    explicit console_reporter(const run_settings& settings) : settings_(settings) {}

    void run_started(const run_facts& run) override;
    bool wants_progress() const override;
    void file_started(const wchar_t* path) override;
    void file_progress(const wchar_t* path, int percent) override;
    void file_hashed(const wchar_t* path) override;
    void file_done(const file_outcome& outcome) override;
    bool wants_frequent_progress() const override { return line_on_; }
    void file_measured(std::uint64_t size) override { meter_.file_measured(size); }
    void files_counted(std::uint64_t files, std::uint64_t bytes, bool bytes_known) override {
        meter_.files_counted(files, bytes, bytes_known);
    }
    void files_all_counted() override { meter_.all_counted(); }
    void irregular_checksum(std::uint64_t line) override;
    void run_halted(const wchar_t* path, halt_reason why) override;
    void walk_problem_met(const walk_problem& problem) override;
    void list_failed(list_step step, const wchar_t* list_path, status cause) override;
    void scratch_failed(const wchar_t* place, status cause, int error_number) override;
    void file_not_listed(const wchar_t* name) override;
    void audit_refused(const wchar_t* list_path) override;
    void entry_updated(const wchar_t* name, update_verdict what) override;
    void update_refused(const wchar_t* list_path, status why) override;
    void unknown_list_format(const wchar_t* list_path) override;
    void path_too_long() override;
    void out_of_memory() override;
    void summary(const verification_tally& tally, const wchar_t* untrusted_file_system) override;
    void improper_line(const wchar_t* list_path, std::uint64_t line) override;
    void nothing_verified(const wchar_t* list_path) override;
    void program_ended(int exit_status) override;
    void merge_refused(const merge_problem& problem) override;

  private:
    void mismatch(const file_outcome& outcome);
    void show_outcome(const file_outcome& outcome);
    void suggest_types(const verification_tally& tally);
    // The progress line of a creation or verification on a terminal that can
    // erase a line, unless quiet, silent or NUL-ended, or turned off with
    // KORVANE_PROGRESS_LINE=0.
    bool line_wanted(run_kind kind) const;
    // Draws the line anew, at most every 100 ms.
    void refresh_line();

    const run_settings& settings_;
    run_facts run_{run_kind::verification, nullptr, list_type::default_type};
    bool progress_shown_ = false;  // for the file in hand: its lines go out at once
    bool line_on_ = false;         // the progress line is kept at the bottom
    progress_meter meter_;
    std::wstring current_;          // the file waited for
    std::uint64_t started_ms_ = 0;  // when the run started, on the steady clock
    std::uint64_t drawn_ms_ = 0;    // when the line was drawn last, from the start
    bool drawn_ = false;
};

}  // namespace korvane::app

#endif
