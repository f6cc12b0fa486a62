// The creation run and the verification run.
#ifndef KORVANE_APP_RUNS_H
#define KORVANE_APP_RUNS_H

#include <cstdint>
#include <functional>

#include "expand.h"
#include "status.h"

class container;
class file_jobs;
class hasher;

namespace korvane::app {

// Adds a hashed file to the list being created, with the size and last write
// time of the file as it was hashed.
using entry_adder = std::function<int(const wchar_t* path, const unsigned char* digest,
                                      std::uint64_t size, std::uint64_t write_time)>;

// Returns ok, or the status the program ends with (after saying why).
[[nodiscard]] status creation_run(const run_settings& settings, container& list, file_jobs& jobs,
                                  const entry_adder& add_entry, expansion_state& state);

// Whether the entry at `index` (counted from 0) verified on an earlier run,
// asked as soon as it is read, while the reports of earlier entries may still
// be outstanding.
using verified_query = std::function<int(std::int64_t index, const wchar_t* path)>;

// Returns the exit status: 0 when every file verified, 1 when some did not,
// or the status that ended the run early.
[[nodiscard]] int verification_run(const run_settings& settings, container& list, hasher& algorithm,
                                   file_jobs& jobs, const verified_query& previously_verified,
                                   expansion_state& state);

}  // namespace korvane::app

#endif
