// The update run: a list rewritten to match its folder. Entries of files
// changed since (by their recorded size and time) are hashed again and
// replaced, files the list does not name are hashed and added, entries of
// files that are gone are kept (or, with --prune, dropped); unchanged files
// are not opened.
#ifndef KORVANE_APP_UPDATE_H
#define KORVANE_APP_UPDATE_H

#include <korvane/jobs.h>

#include "expand.h"
#include "runs.h"

class container;

namespace korvane::app {

class reporter;

// Returns the exit status: 0 when the list was brought up to date (or needed
// nothing), 1 when some file could not be hashed (its old entry stays), or
// the status that left the list as it was.
// With `shard`, only the shard's entries are judged and only its new files
// added, each outcome kept as a line of its results, and the list is not
// written: the merge writes it.
[[nodiscard]] int update_run(const run_settings& settings, reporter& report, container& list,
                             file_jobs& jobs, const entry_adder& add_entry, expansion_state& state,
                             list_shard* shard = nullptr);

// The end of an update: the list written when something `changed`, else
// closed untouched; the exit status, or the status of a failed write (said).
[[nodiscard]] int commit_update(const run_settings& settings, reporter& report, container& list,
                                int exit_status, bool changed);

}  // namespace korvane::app

#endif
