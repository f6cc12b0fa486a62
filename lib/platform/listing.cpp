// The sorting and merging behind sorted_listing, the same on every target:
// only directory_reader (posix/, win32/) talks to the OS.
#include "platform/listing.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/text.h"

namespace korvane::platform {

namespace {

// A record is the name's length (two bytes, high first; the top bit says
// whether the listing called the entry a regular file) and its bytes, in
// memory and in the scratch file alike. The longest native name (255 UTF-16
// units on Windows, 255 bytes elsewhere) fits many times over.
constexpr std::size_t record_header = 2;
constexpr unsigned char regular_bit = 0x80;
constexpr std::size_t longest_name = 1020;
// Every buffer of a merge holds at least one whole record.
constexpr std::size_t slice_minimum = record_header + longest_name + 2;
constexpr std::size_t fan_in_limit = 64;
constexpr std::size_t write_area_limit = std::size_t{64} << 10;

std::size_t record_length(const unsigned char* record) {
    return (std::size_t{record[0] & unsigned{~regular_bit & 0xFF}} << 8) | record[1];
}

bool record_regular(const unsigned char* record) {
    return (record[0] & regular_bit) != 0;
}

void write_header(unsigned char* record, std::size_t length, bool regular) {
    record[0] = static_cast<unsigned char>((length >> 8) | (regular ? regular_bit : 0));
    record[1] = static_cast<unsigned char>(length & 0xFF);
}

std::string_view record_name(const unsigned char* record) {
    return {reinterpret_cast<const char*>(record + record_header), record_length(record)};
}

// Byte order: char_traits<char> compares as unsigned char, as strcmp does.
bool name_less(std::string_view a, std::string_view b) {
    return a < b;
}

int read_at(native_file& file, std::uint64_t offset, unsigned char* to, std::size_t size) {
    if (int error = file.seek(offset); error != 0) {
        return error;
    }
    while (size > 0) {
        std::int64_t got = file.read(to, size);
        if (got <= 0) {
            // An end before what was written: the file is not what was written.
            return got < 0 && got != 0 ? static_cast<int>(-got) : EIO;
        }
        to += got;
        size -= static_cast<std::size_t>(got);
    }
    return 0;
}

// Collects records in a buffer and appends them to the scratch file.
struct run_writer {
    native_file& file;
    unsigned char* buffer;
    std::size_t capacity;
    std::uint64_t offset;  // where the run starts in the file
    std::size_t used = 0;
    std::uint64_t written = 0;

    [[nodiscard]] int put(const unsigned char* record) {
        const std::size_t size = record_header + record_length(record);
        if (used + size > capacity) {
            if (int error = flush(); error != 0) {
                return error;
            }
        }
        std::memcpy(buffer + used, record, size);
        used += size;
        return 0;
    }
    [[nodiscard]] int flush() {
        if (used == 0) {
            return 0;
        }
        if (int error = file.seek(offset + written); error != 0) {
            return error;
        }
        if (int error = file.write_all(buffer, used); error != 0) {
            return error;
        }
        written += used;
        used = 0;
        return 0;
    }
};

void to_wide(std::string_view native, std::wstring& out) {
    if constexpr (wide_units_are_utf16) {
        out.resize(native.size() / 2);
        for (std::size_t i = 0; i < out.size(); ++i) {
            const auto high = static_cast<unsigned char>(native[2 * i]);
            const auto low = static_cast<unsigned char>(native[2 * i + 1]);
            out[i] = static_cast<wchar_t>((high << 8) | low);
        }
    } else {
        out.resize(native.size());
        for (std::size_t i = 0; i < out.size(); ++i) {
            out[i] = static_cast<wchar_t>(static_cast<unsigned char>(native[i]));
        }
    }
}

}  // namespace

// One run being merged: a slice of the arena that holds what was read of the
// run, and the run's record at the front of it.
struct sorted_listing::cursor {
    unsigned char* buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t start = 0;        // the current record
    std::size_t end = 0;          // what the buffer holds
    std::uint64_t offset = 0;     // of the run's next unread byte in the file
    std::uint64_t remaining = 0;  // bytes of the run not yet read
    std::size_t head = 0;         // the size of the current record, 0 for none
    std::string_view name;
    const unsigned char* record = nullptr;

    bool has_whole_record() const {
        const std::size_t have = end - start;
        return have >= record_header && have >= record_header + record_length(buffer + start);
    }
    [[nodiscard]] int refill(native_file& file) {
        const std::size_t have = end - start;
        std::memmove(buffer, buffer + start, have);
        start = 0;
        end = have;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(capacity - have, remaining));
        if (want == 0) {
            return 0;
        }
        if (int error = read_at(file, offset, buffer + have, want); error != 0) {
            return error;
        }
        offset += want;
        remaining -= want;
        end += want;
        return 0;
    }
    // Moves to the run's next record: 1, 0 at the run's end, or -error.
    [[nodiscard]] int advance(native_file& file) {
        start += head;
        head = 0;
        if (!has_whole_record()) {
            if (int error = refill(file); error != 0) {
                return -error;
            }
            if (!has_whole_record()) {
                return start == end ? 0 : -EIO;
            }
        }
        record = buffer + start;
        name = record_name(record);
        head = record_header + name.size();
        return 1;
    }
};

sorted_listing::sorted_listing(std::size_t requested)
    : budget(std::max(requested, minimum_budget) & ~std::size_t{7}) {
    const std::size_t write_area = std::clamp(budget / 16, slice_minimum, write_area_limit);
    fill_area = (budget - write_area) & ~std::size_t{3};
}

sorted_listing::~sorted_listing() = default;

std::size_t sorted_listing::fan_in() const {
    return std::min(fan_in_limit, budget / slice_minimum - 1);
}

int sorted_listing::allocate() {
    if (!arena) {
        arena.reset(new (std::nothrow) unsigned char[budget]);
        if (!arena) {
            return ENOMEM;
        }
    }
    cursors.reserve(fan_in_limit);
    heap.reserve(fan_in_limit);
    return 0;
}

int sorted_listing::open(const wchar_t* path, const scratch_maker& make_scratch,
                         const name_filter& filter) try {
    close();
    runs_made = 0;
    int error = allocate();
    if (error == 0) {
        error = reader.open(path);
    }
    if (error == 0) {
        error = read_names(make_scratch, filter);
    }
    if (error == 0 && runs.empty()) {
        sort_in_memory();
    } else if (error == 0) {
        error = count > 0 ? spill(make_scratch) : 0;
        error = error != 0 ? error : reduce_runs();
        error = error != 0 ? error : start_merge(0, runs.size(), runs.size());
        merging = error == 0;
    }
    if (error != 0) {
        close();
    }
    return error;
} catch (const std::bad_alloc&) {
    close();
    return ENOMEM;
}

int sorted_listing::read_names(const scratch_maker& make_scratch, const name_filter& filter) {
    for (;;) {
        std::string_view name;
        if (int got = reader.next(name); got <= 0) {
            return -got;
        }
        if (filter && !filter(name)) {
            continue;
        }
        if (int error = add_name(name, reader.regular(), make_scratch); error != 0) {
            return error;
        }
    }
}

int sorted_listing::add_name(std::string_view name, bool regular,
                             const scratch_maker& make_scratch) {
    if (name.size() > longest_name) {
        return ENAMETOOLONG;
    }
    const std::size_t needed = record_header + name.size() + sizeof(std::uint32_t);
    if (names_end + needed + count * sizeof(std::uint32_t) > fill_area) {
        if (int error = spill(make_scratch); error != 0) {
            return error;
        }
    }
    unsigned char* record = arena.get() + names_end;
    write_header(record, name.size(), regular);
    std::memcpy(record + record_header, name.data(), name.size());
    auto* offsets_end = reinterpret_cast<std::uint32_t*>(arena.get() + fill_area);
    *(offsets_end - count - 1) = static_cast<std::uint32_t>(names_end);
    ++count;
    names_end += record_header + name.size();
    return 0;
}

void sorted_listing::sort_in_memory() {
    auto* offsets_end = reinterpret_cast<std::uint32_t*>(arena.get() + fill_area);
    const unsigned char* base = arena.get();
    std::sort(offsets_end - count, offsets_end, [base](std::uint32_t a, std::uint32_t b) {
        return name_less(record_name(base + a), record_name(base + b));
    });
    position = 0;
}

int sorted_listing::spill(const scratch_maker& make_scratch) {
    if (!scratch.is_open()) {
        int error = make_scratch ? make_scratch(scratch) : ENOSPC;
        if (error != 0) {
            return error;
        }
        scratch_end = 0;
    }
    sort_in_memory();
    auto* offsets_end = reinterpret_cast<std::uint32_t*>(arena.get() + fill_area);
    if (int error = write_run(offsets_end - count, count); error != 0) {
        return error;
    }
    names_end = 0;
    count = 0;
    return 0;
}

int sorted_listing::write_run(const std::uint32_t* order, std::size_t names) {
    run_writer out{scratch, arena.get() + fill_area, budget - fill_area, scratch_end};
    for (std::size_t i = 0; i < names; ++i) {
        if (int error = out.put(arena.get() + order[i]); error != 0) {
            return error;
        }
    }
    if (int error = out.flush(); error != 0) {
        return error;
    }
    runs.push_back({scratch_end, out.written});
    scratch_end += out.written;
    ++runs_made;
    return 0;
}

// Merges runs, the oldest first, into longer ones at the end of the file until
// the rest can be merged at once.
int sorted_listing::reduce_runs() {
    while (runs.size() > fan_in()) {
        if (int error = merge_into_run(0, fan_in()); error != 0) {
            return error;
        }
    }
    return 0;
}

int sorted_listing::merge_into_run(std::size_t first, std::size_t merged) {
    if (int error = start_merge(first, merged, merged + 1); error != 0) {
        return error;
    }
    const std::size_t slice = budget / (merged + 1);
    run_writer out{scratch, arena.get() + merged * slice, slice, scratch_end};
    for (;;) {
        const unsigned char* record = nullptr;
        int got = merge_next(record);
        if (got <= 0) {
            if (got < 0) {
                return -got;
            }
            break;
        }
        if (int error = out.put(record); error != 0) {
            return error;
        }
    }
    if (int error = out.flush(); error != 0) {
        return error;
    }
    runs.erase(runs.begin() + static_cast<std::ptrdiff_t>(first),
               runs.begin() + static_cast<std::ptrdiff_t>(first + merged));
    runs.push_back({scratch_end, out.written});
    scratch_end += out.written;
    ++runs_made;
    return 0;
}

// Gives each of `merged` runs from `first` on one of `slices` equal parts of
// the arena and reads its first record.
int sorted_listing::start_merge(std::size_t first, std::size_t merged, std::size_t slices) {
    const std::size_t slice = budget / slices;
    cursors.assign(merged, cursor{});  // reserved for the largest fan-in
    heap.clear();
    taken = SIZE_MAX;
    for (std::size_t i = 0; i < merged; ++i) {
        cursor& c = cursors[i];
        c.buffer = arena.get() + i * slice;
        c.capacity = slice;
        c.offset = runs[first + i].offset;
        c.remaining = runs[first + i].length;
        int got = c.advance(scratch);
        if (got < 0) {
            return -got;
        }
        if (got > 0) {
            heap.push_back(i);
        }
    }
    std::make_heap(heap.begin(), heap.end(), [this](std::size_t a, std::size_t b) {
        return name_less(cursors[b].name, cursors[a].name);
    });
    return 0;
}

int sorted_listing::merge_next(const unsigned char*& record) {
    auto later = [this](std::size_t a, std::size_t b) {
        return name_less(cursors[b].name, cursors[a].name);
    };
    if (taken != SIZE_MAX) {
        const std::size_t index = taken;
        taken = SIZE_MAX;
        int got = cursors[index].advance(scratch);
        if (got < 0) {
            return got;
        }
        if (got > 0) {
            heap.push_back(index);  // reserved
            std::push_heap(heap.begin(), heap.end(), later);
        }
    }
    if (heap.empty()) {
        return 0;
    }
    std::pop_heap(heap.begin(), heap.end(), later);
    taken = heap.back();
    heap.pop_back();
    record = cursors[taken].record;
    return 1;
}

int sorted_listing::next_native(const unsigned char*& record) {
    if (merging) {
        return merge_next(record);
    }
    if (position == count) {
        return 0;
    }
    const auto* offsets_end = reinterpret_cast<const std::uint32_t*>(arena.get() + fill_area);
    record = arena.get() + *(offsets_end - count + position);
    ++position;
    return 1;
}

int sorted_listing::next(std::wstring& name) {
    const unsigned char* record = nullptr;
    int got = next_native(record);
    current = got > 0 ? record_name(record) : std::string_view();
    current_regular = got > 0 && record_regular(record);
    if (got <= 0) {
        return got;
    }
    try {
        to_wide(current, name);
    } catch (const std::bad_alloc&) {
        return -ENOMEM;
    }
    return 1;
}

bool sorted_listing::wide_name(std::string_view native, std::wstring& out) try {
    to_wide(native, out);
    return true;
} catch (const std::bad_alloc&) {
    return false;
}

int sorted_listing::entry_info(const wchar_t* full_path, file_info& out) const {
    return reader.entry_info(current, full_path, out);
}

void sorted_listing::close() {
    reader.close();
    (void)scratch.close();  // nothing of it is kept
    scratch_end = 0;
    runs.clear();
    names_end = 0;
    count = 0;
    position = 0;
    merging = false;
    cursors.clear();
    heap.clear();
    taken = SIZE_MAX;
    current = {};
    current_regular = false;
}

}  // namespace korvane::platform
