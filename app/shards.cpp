#include "shards.h"

namespace korvane::app {

namespace {

std::wstring wide_ascii(std::string_view text) {
    return {text.begin(), text.end()};
}

struct variables {
    const environment_lookup& lookup;
    std::wstring error;

    // A variable the scheduler must have set, as a number.
    bool number(const char* name, std::uint64_t& out) {
        const std::optional<std::string> value = lookup(name);
        if (!value) {
            error = L"$" + wide_ascii(name) + L" is not set";
            return false;
        }
        if (!decimal_number(std::string_view(*value), std::uint64_t{1} << 40, out)) {
            error = L"$" + wide_ascii(name) + L" is not a number: \"" + wide_ascii(*value) + L"\"";
            return false;
        }
        return true;
    }
};

bool set(const environment_lookup& lookup, const char* name) {
    return lookup(name).has_value();
}

// A Slurm array task: its place in an unbroken range MIN, MIN+STEP, ... MAX.
void from_slurm(variables& vars, shard_from_environment& out) {
    std::uint64_t id = 0;
    std::uint64_t min = 0;
    std::uint64_t max = 0;
    std::uint64_t step = 0;
    std::uint64_t count = 0;
    if (!vars.number("SLURM_ARRAY_TASK_ID", id) || !vars.number("SLURM_ARRAY_TASK_MIN", min) ||
        !vars.number("SLURM_ARRAY_TASK_MAX", max) || !vars.number("SLURM_ARRAY_TASK_STEP", step) ||
        !vars.number("SLURM_ARRAY_TASK_COUNT", count)) {
        return;
    }
    // "--array=1,2,5" sets MIN 1, MAX 5, COUNT 3: a task short of the range
    // would go unseen, so only a range without gaps is a set of shards.
    if (step == 0 || count == 0 || count > max_shards || max != min + (count - 1) * step) {
        vars.error = L"the Slurm array is not an unbroken range (--array=MIN-MAX[:STEP])";
        return;
    }
    if (id < min || id > max || (id - min) % step != 0) {
        vars.error = L"$SLURM_ARRAY_TASK_ID is not a task of the array";
        return;
    }
    out.index = static_cast<std::uint32_t>((id - min) / step + 1);
    out.count = static_cast<std::uint32_t>(count);
}

// A scheduler that numbers its tasks but leaves the count to the user.
void from_task_number(variables& vars, const char* variable, std::uint64_t first,
                      shard_from_environment& out) {
    std::uint64_t number = 0;
    std::uint64_t count = 0;
    if (!vars.number(variable, number) || !vars.number(shard_count_variable, count)) {
        return;
    }
    if (count == 0 || count > max_shards || number < first || number - first >= count) {
        vars.error = L"$" + wide_ascii(variable) + L" is " + std::to_wstring(number) +
                     L", not a task of $" + wide_ascii(shard_count_variable) + L"=" +
                     std::to_wstring(count);
        return;
    }
    out.index = static_cast<std::uint32_t>(number - first + 1);
    out.count = static_cast<std::uint32_t>(count);
}

}  // namespace

bool parse_shard(std::wstring_view text, shard_choice& out) {
    if (text == L"auto") {
        out = {true, true, 0, 0};
        return true;
    }
    const std::size_t slash = text.find(L'/');
    std::uint64_t index = 0;
    std::uint64_t count = 0;
    if (slash == std::wstring_view::npos ||
        !decimal_number(text.substr(0, slash), max_shards, index) ||
        !decimal_number(text.substr(slash + 1), max_shards, count) || index == 0 || index > count) {
        return false;
    }
    out = {true, false, static_cast<std::uint32_t>(index), static_cast<std::uint32_t>(count)};
    return true;
}

shard_from_environment shard_of_environment(const environment_lookup& lookup) {
    // The innermost scheduler first: GNU parallel started inside a Slurm task
    // runs each of its jobs there, and a pod is the outermost of all.
    struct scheduler {
        const wchar_t* name;
        const char* marker;
    };
    static constexpr scheduler schedulers[] = {
        {L"GNU parallel", "PARALLEL_SEQ"},
        {L"Slurm", "SLURM_ARRAY_TASK_ID"},
        {L"Kubernetes", "JOB_COMPLETION_INDEX"},
    };
    shard_from_environment out;
    const scheduler* chosen = nullptr;
    for (const scheduler& candidate : schedulers) {
        if (!set(lookup, candidate.marker)) {
            continue;
        }
        if (chosen == nullptr) {
            chosen = &candidate;
        } else {
            out.also_set += out.also_set.empty() ? L"" : L", ";
            out.also_set += candidate.name;
        }
    }
    if (chosen == nullptr) {
        out.error =
            L"no scheduler's task number is set ($SLURM_ARRAY_TASK_ID, $PARALLEL_SEQ, "
            L"$JOB_COMPLETION_INDEX)";
        return out;
    }
    variables vars{lookup, {}};
    if (chosen == &schedulers[1]) {
        from_slurm(vars, out);
    } else {
        from_task_number(vars, chosen->marker, chosen == &schedulers[0] ? 1 : 0, out);
    }
    out.scheduler = chosen->name;
    if (!vars.error.empty()) {
        out.index = 0;
        out.count = 0;
        out.error = vars.error;
    }
    return out;
}

std::uint64_t path_digest(std::wstring_view path) {
    // FNV-1a over each unit as two bytes, low first (a path's value does not
    // depend on the width of wchar_t or the byte order), then a finalizer
    // that spreads every input bit over the word, so that the value modulo
    // a small count is even.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (wchar_t unit : path) {
        const auto value = static_cast<std::uint32_t>(unit);
        hash = (hash ^ (value & 0xFF)) * 0x100000001b3ULL;
        hash = (hash ^ ((value >> 8) & 0xFF)) * 0x100000001b3ULL;
    }
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdULL;
    hash ^= hash >> 33;
    hash *= 0xc4ceb9fe1a85ec53ULL;
    hash ^= hash >> 33;
    return hash;
}

std::uint32_t shard_of_path(std::wstring_view path, std::uint32_t count) {
    return static_cast<std::uint32_t>(path_digest(path) % count) + 1;
}

entry_split::entry_split(std::uint32_t count, std::uint64_t entries, std::uint64_t recorded_bytes,
                         bool every_size_recorded)
    : count_(count == 0 ? 1 : count), by_size_(every_size_recorded) {
    total_ = by_size_ ? wide{recorded_bytes} + wide{entries} * file_cost : wide{entries};
}

std::uint32_t entry_split::next(std::uint64_t size) {
    const wide weight = by_size_ ? wide{size} + file_cost : 1;
    if (total_ == 0) {
        return 1;
    }
    // The shard whose share of the total holds the entry's middle.
    const wide middle = 2 * before_ + weight;
    before_ += weight;
    const wide shard = middle * count_ / (2 * total_);
    return shard >= count_ ? count_ : static_cast<std::uint32_t>(shard) + 1;
}

}  // namespace korvane::app
