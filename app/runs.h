// The creation run and the verification run.
#ifndef KORVANE_APP_RUNS_H
#define KORVANE_APP_RUNS_H

#include <korvane/container.h>
#include <korvane/jobs.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "expand.h"
#include "report.h"
#include "shard_results.h"
#include "shards.h"
#include "status.h"

namespace korvane::app {

class found_places;

using file_jobs_algorithm = file_jobs::algorithm;

// Adds a hashed file to the list being created, with the size and last write
// time of the file as it was hashed.
using entry_adder = std::function<int(const wchar_t* path, const unsigned char* digest,
                                      std::uint64_t size, std::uint64_t write_time)>;

// The workers' algorithm for a type of list (a row number).
file_jobs_algorithm algorithm_for(int type);

// Every file the expansion finds, kept in order for the creation run in
// bounded memory (a log that overflows into a scratch file beside the
// target), and hashed while the expansion is still finding more, so that the
// walk's status queries and the hashing share the cores. Nothing is shown
// meanwhile: the creation run reports every file in list order, exactly as if
// all had been hashed after the walk. An option later on the command line
// that changes the type or the target makes the hashing void; the files are
// then hashed again by the creation run.
class early_hashing {
  public:
    early_hashing();
    ~early_hashing();
    early_hashing(const early_hashing&) = delete;
    early_hashing& operator=(const early_hashing&) = delete;

    // Takes every file `expansion` finds from now on, hashing it when
    // `settings` (as they stand at that moment) name a creation target.
    void attach(expansion_state& expansion, const run_settings& settings, reporter& report);
    // Stops the workers: files being hashed are abandoned, and no worker
    // touches a path once this returns.
    void stop();

    struct state;
    std::unique_ptr<state> self;
    // A creation shard: where the files of every shard are counted, and this
    // shard's kept by their places.
    found_places* shard_places = nullptr;
};

// Says why the workers left a file out rather than hashed it, as the walk
// says it of the files it looks at itself (unreadable, or gone since the
// listing); nothing for the list's own file, which goes quietly.
void report_left_out(reporter& report, const wchar_t* path, file_jobs::left_out why);

// The oldest file in flight, hashed: waits for it and gives its status in
// `file_status`, having reported a failure other than a file left out or
// (without `say_missing`) a missing file, and with `progress` how far the
// hashing got. False when no worker could start, or the process ran out of
// descriptors or memory with nothing else in flight, which ends the run (also
// reported).
[[nodiscard]] bool finish_oldest(file_jobs& jobs, const wchar_t* path, reporter& report,
                                 status& file_status, bool progress = true,
                                 bool say_missing = true);

// Returns ok, or the status the program ends with (after reporting why). The
// files are those `early` took, hashed early when its work holds for
// `settings`.
[[nodiscard]] status creation_run(const run_settings& settings, reporter& report, container& list,
                                  const entry_adder& add_entry, expansion_state& state,
                                  early_hashing& early);

// Puts the parent folder (-p), with its separator, at the start of `buffer`,
// where the entries' names go after `prefix` units; reports a parent that
// leaves too little room.
[[nodiscard]] status start_with_parent(const run_settings& settings, reporter& report,
                                       wchar_t* buffer, std::size_t& prefix);

// Opens the list a run reads, with the parent folder (-p) at the start of
// `buffer` as start_with_parent puts it, and tells it where its names
// resolve; a failure is reported.
[[nodiscard]] status open_for_run(const run_settings& settings, reporter& report, container& list,
                                  wchar_t* buffer, std::size_t& prefix);

// Whether the entry at `index` (counted from 0) verified on an earlier run,
// asked as soon as it is read, while the reports of earlier entries may still
// be outstanding.
using verified_query = std::function<int(std::int64_t index, const wchar_t* path)>;

// The file system on which the list's remembered verifications could not be
// trusted, asked once the entries are done and before the list is closed;
// null when there was none.
using untrusted_query = std::function<const wchar_t*()>;

// A verification or update that takes one shard of the list's entries (and
// of the files its walk finds), and keeps what became of each in a results
// file for the merge.
struct list_shard {
    std::uint32_t index = 1;
    std::uint32_t count = 1;
    entry_split split;
    results_writer* results = nullptr;  // or null: the shard's run only says
    std::uint64_t records = 0;          // lines of entries in the results
    // An update's: the first of its own entries and the one after its last.
    std::int64_t first = -1;
    std::int64_t end = 0;
    std::int64_t first_present = -1;  // the first of them whose file is there
};

// An entry as the list gives it, for judging its file.
struct entry_facts {
    const wchar_t* path;
    const unsigned char* expected;
    const file_record& record;
    std::uint64_t irregular_line;
};

// What hashing a file gave: by the workers, or by a shard.
struct hashed_file {
    status result = status::ok;
    const unsigned char* digest = nullptr;  // when ok
    std::uint64_t size = 0;
    std::uint64_t write_time = 0;  // 0 when unknown
};

// Reports and counts an entry that the list remembers as verified, or one
// whose file was hashed; `remember` marks the verdict in the list.
void judge_spared(reporter& report, container& list, const entry_facts& entry,
                  verification_tally& tally, bool remember);
void judge_hashed(reporter& report, container& list, const entry_facts& entry,
                  const hashed_file& file, std::size_t digest_size, verification_tally& tally,
                  const run_settings& settings, bool remember);

// Adds a hashed file to the list and reports it; an entry left out would
// pass the list off as complete, so a failure ends the run.
[[nodiscard]] status add_hashed(reporter& report, const entry_adder& add_entry, const wchar_t* path,
                                digest_bytes digest, std::uint64_t size, std::uint64_t write_time);

// The summary of a verification and its exit status; with `may_mark`, a
// run that passed leaves the marker file the configuration asks for.
int report_summary(reporter& report, const run_settings& settings, verification_tally& tally,
                   const std::wstring& untrusted, bool may_mark);

// Returns the exit status: 0 when every file verified, 1 when some did not,
// or the status that ended the run early.
[[nodiscard]] int verification_run(const run_settings& settings, reporter& report, container& list,
                                   file_jobs& jobs, const verified_query& previously_verified,
                                   expansion_state& state,
                                   const untrusted_query& untrusted_file_system = {},
                                   list_shard* shard = nullptr);

}  // namespace korvane::app

#endif
