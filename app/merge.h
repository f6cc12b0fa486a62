// The shards of a run: what a shard leaves behind (a verification's results,
// a creation's part) and the merge that turns them into the output, list,
// tag and exit status of one run over all of it.
#ifndef KORVANE_APP_MERGE_H
#define KORVANE_APP_MERGE_H

#include <korvane/container.h>

#include <cstdint>
#include <memory>
#include <string>

#include "expand.h"
#include "report.h"
#include "runs.h"
#include "shard_results.h"
#include "spill.h"

namespace korvane::app {

// The list's bytes, digested (SHA-256, as hexadecimal text), and their count:
// what ties the shards of a verification to one version of one list.
[[nodiscard]] status list_identity(const wchar_t* path, std::string& digest, std::uint64_t& size);

// What a read through the list tells before a shard or a merge starts: how
// its entries split into `count` shards, how many there are, and the folder
// its names resolve in.
struct list_survey {
    entry_split split;
    std::string folder;
    std::uint64_t entries = 0;
};
// `name` has room for path_buffer_units units, which it is read into.
[[nodiscard]] status survey_list(const run_settings& settings, std::uint32_t count, wchar_t* name,
                                 list_survey& out);

// The walk's files of a creation shard as they are found: each one's place
// among the files all shards find, kept for those of this shard with a
// digest of the path (memory up to a bound, then a scratch file), so that
// its part can say where each hashed file goes in the merged list.
class found_places {
  public:
    // A file of this shard, found after `ordinal` others.
    [[nodiscard]] status add(std::uint64_t ordinal, std::wstring_view path);
    // The place of the file `path`, the next of those added that the list
    // takes (files the workers left out are passed over).
    [[nodiscard]] bool place_of(std::wstring_view path, std::uint64_t& ordinal);
    std::uint64_t found = 0;  // files found by the walk, of every shard

  private:
    spill_buffer log_;
    bool reading_ = false;
};

// A creation shard's part: a container that writes each file added as a
// line of the results format, with its place in the walk.
class creation_part final : public container {
  public:
    creation_part(const run_settings& settings, found_places& places)
        : settings_(settings), places_(places) {}

    int open(const wchar_t*) override { return to_int(status::invalid_arguments); }
    int close() override;
    int getNextFile(wchar_t*, int, std::uint64_t*, void*) override { return 0; }
    int isPreviouslyVerified(const wchar_t*) override { return 0; }
    int setPreviouslyVerified(bool) override { return 0; }
    int create(const wchar_t* path) override;
    int addFile(const wchar_t* name, const void* hashBytes) override {
        return addFile(name, hashBytes, 0, 0);
    }
    int addFile(const wchar_t* name, const void* hashBytes, std::uint64_t size,
                std::uint64_t writeTime);

  private:
    const run_settings& settings_;
    found_places& places_;
    results_writer writer_;
    std::uint64_t records_ = 0;
};

// What ties a creation's shards together: their file arguments and the
// options that choose files, digested.
std::string creation_run_key(const run_settings& settings);

// Readies a verification or update shard: how the list's entries split, and with
// --results the results file begun in place of the one it names. A failure
// is reported.
[[nodiscard]] status begin_shard_results(const run_settings& settings, reporter& report,
                                         list_shard& shard, results_writer& writer,
                                         std::uint64_t started, wchar_t* name);

// Reads a shard's file through as the merge does before it says anything:
// false, with what is wrong, when it is not one whole shard's file.
[[nodiscard]] bool check_shard_file(const std::wstring& path, merge_problem& problem);

// Ends a shard's results with its end line ("end RECORDS " and `tail`) and
// puts the file in place; a failure is reported.
[[nodiscard]] status end_shard_results(list_shard& shard, reporter& report,
                                       const std::string& tail);

// --merge: the list (or the -c target) and the shards' files are the file
// arguments; the first names the list unless -c does.
void take_merge_list(run_settings& settings);

// The exit status of a merge refused: the shards' files do not make one
// run. The program's own, below the library's statuses.
constexpr int merge_refused_status = -13;

// --merge: the output, list, tag and exit status of one run over all the
// shards whose files follow the list; a shard missing, given twice, of
// another list or cut short fails the merge, naming it.
int merge_run(const run_settings& settings, reporter& report, container& list,
              const entry_adder& add_entry, expansion_state& state);

}  // namespace korvane::app

#endif
