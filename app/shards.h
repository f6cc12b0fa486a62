// A run split into shards that an outside scheduler runs side by side: which
// shard this process is, which entries and files belong to it, and what ties
// the shards of one run together.
#ifndef KORVANE_APP_SHARDS_H
#define KORVANE_APP_SHARDS_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::app {

// The most shards a run is split into.
constexpr std::uint32_t max_shards = 1000000;

struct shard_choice {
    bool on = false;
    bool automatic = false;   // --shard=auto: from the scheduler's environment
    std::uint32_t index = 0;  // from 1
    std::uint32_t count = 0;
};

// "K/N" or "auto"; false for anything else (0/4, 5/4, 1/0, signs, blanks).
bool parse_shard(std::wstring_view text, shard_choice& out);

// What --shard=auto found: the shard, the scheduler it came from ("Slurm",
// "GNU parallel", "Kubernetes"), and the other schedulers' variables also
// set (empty when none). `error` is set, and nothing else, when the
// environment names no shard or names one inconsistently.
struct shard_from_environment {
    std::uint32_t index = 0;
    std::uint32_t count = 0;
    std::wstring scheduler;
    std::wstring also_set;
    std::wstring error;
};

// The count variable of the schedulers that set only the task's own number.
inline constexpr const char* shard_count_variable = "KORVANE_SHARDS";

using environment_lookup = std::function<std::optional<std::string>(const char* name)>;
shard_from_environment shard_of_environment(const environment_lookup& lookup);

// A 64-bit digest of a path, the same whatever the width of its units.
std::uint64_t path_digest(std::wstring_view path);

// The shard (from 1) a found file belongs to, by its path as found: the same
// on every machine and in every listing order, and stable while other files
// come and go.
std::uint32_t shard_of_path(std::wstring_view path, std::uint32_t count);

// Splits the entries of a list into contiguous runs of about equal weight:
// each entry weighs its recorded size plus the cost of opening a file, or
// one when the list does not record every size. Fed the entries in list
// order, it says which shard each belongs to.
class entry_split {
  public:
    // Bytes an opened file is worth, so that a shard of many small files
    // is not given as many bytes as one of a few large ones.
    static constexpr std::uint64_t file_cost = 64 * 1024;

    entry_split() = default;
    entry_split(std::uint32_t count, std::uint64_t entries, std::uint64_t recorded_bytes,
                bool every_size_recorded);
    // The shard of the next entry, whose recorded size is `size`.
    std::uint32_t next(std::uint64_t size);

  private:
    __extension__ using wide = unsigned __int128;  // sums of sizes times shards
    std::uint32_t count_ = 1;
    bool by_size_ = false;
    wide total_ = 0;
    wide before_ = 0;
};

// Decimal digits only, no sign or blank, at most `limit`: a number of the
// environment, the command line or a results file.
template <typename Char>
bool decimal_number(std::basic_string_view<Char> text, std::uint64_t limit, std::uint64_t& out) {
    if (text.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    for (Char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (digit > limit || value > (limit - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    out = value;
    return true;
}

}  // namespace korvane::app

#endif
