// A directory's names in sorted order, read and sorted in bounded memory.
#ifndef KORVANE_PLATFORM_LISTING_H
#define KORVANE_PLATFORM_LISTING_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/fs.h"

namespace korvane::platform {

// Reads a directory's names from the OS one at a time, in the order the OS
// gives them (posix/, win32/). A name comes as its native form in bytes: on
// POSIX the bytes themselves; on Windows each UTF-16 unit as two bytes, high
// byte first, so that comparing the bytes compares the units.
class directory_reader {
  public:
    directory_reader();
    ~directory_reader();
    directory_reader(const directory_reader&) = delete;
    directory_reader& operator=(const directory_reader&) = delete;

    // 0, or the error number of a directory that cannot be listed.
    [[nodiscard]] int open(const wchar_t* path);
    // 1 with the next name in `name` (valid until the next call), 0 at the end,
    // or the negated error number of a failed read.
    [[nodiscard]] int next(std::string_view& name);
    // Whether the listing itself said that the name next() gave last is a
    // regular file (not a link, not unknown): a hint taken without a status
    // query, true until the name is replaced. Never on Windows, where every
    // entry is looked at.
    bool regular() const;
    // The status of the entry `name` (native form) of the open directory, whose
    // whole path is `full_path`, as get_file_info(full_path) gives it (links
    // followed, the same error numbers); POSIX asks relative to the open
    // directory, which spares resolving the directory's path again.
    [[nodiscard]] int entry_info(std::string_view name, const wchar_t* full_path,
                                 file_info& out) const;
    void close();

  private:
    struct state;
    state* open_state = nullptr;
};

// The names of one directory, "." and ".." included, in byte order (code-unit
// order on Windows), whatever the directory holds: names are read into one
// buffer of a fixed budget; a directory that fits is sorted there, a larger
// one is sorted in runs that go to a scratch file and are merged, several
// passes over the file when there are more runs than buffers fit the budget.
class sorted_listing {
  public:
    static constexpr std::size_t default_budget = std::size_t{4} << 20;
    // The smallest budget taken; a smaller one is raised to it.
    static constexpr std::size_t minimum_budget = 4096;
    // Makes the scratch file a large directory spills into; 0 or the error.
    using scratch_maker = std::function<int(native_file&)>;
    // Decides which names are kept (native form, as directory_reader gives it).
    using name_filter = std::function<bool(std::string_view)>;

    explicit sorted_listing(std::size_t budget = default_budget);
    ~sorted_listing();
    sorted_listing(const sorted_listing&) = delete;
    sorted_listing& operator=(const sorted_listing&) = delete;

    // Reads every name of the directory at `path` (only those `filter` keeps,
    // when it is set) and sorts them. 0, or the error number of a directory
    // that cannot be listed, a failed read, a failed scratch file or ENOMEM.
    // `make_scratch` is called only when the names do not fit the budget.
    [[nodiscard]] int open(const wchar_t* path, const scratch_maker& make_scratch,
                           const name_filter& filter = nullptr);
    // 1 with the next name in `name`, 0 after the last, or the negated error
    // number of a failed read of the scratch file.
    [[nodiscard]] int next(std::wstring& name);
    // A name in its native form (as a name_filter gets it) as wide units;
    // false when memory ran out.
    static bool wide_name(std::string_view native, std::wstring& out);
    // directory_reader::regular() for the name next() gave last.
    bool regular() const { return current_regular; }
    // The status of the name next() gave last, whose whole path is
    // `full_path` (see directory_reader::entry_info).
    [[nodiscard]] int entry_info(const wchar_t* full_path, file_info& out) const;
    // Closes the directory and drops the scratch file.
    void close();

    // How many scratch runs the last open wrote (0 when the names fit).
    std::size_t runs_written() const { return runs_made; }

  private:
    struct run {
        std::uint64_t offset;
        std::uint64_t length;
    };
    struct cursor;

    [[nodiscard]] int allocate();
    [[nodiscard]] int read_names(const scratch_maker& make_scratch, const name_filter& filter);
    [[nodiscard]] int add_name(std::string_view name, bool regular,
                               const scratch_maker& make_scratch);
    void sort_in_memory();
    [[nodiscard]] int spill(const scratch_maker& make_scratch);
    [[nodiscard]] int write_run(const std::uint32_t* order, std::size_t count);
    [[nodiscard]] int reduce_runs();
    [[nodiscard]] int merge_into_run(std::size_t first, std::size_t count);
    [[nodiscard]] int start_merge(std::size_t first, std::size_t count, std::size_t slices);
    [[nodiscard]] int merge_next(const unsigned char*& record);
    [[nodiscard]] int next_native(const unsigned char*& record);
    std::size_t fan_in() const;

    std::size_t budget;
    std::size_t fill_area;  // bytes for names and their offsets; the rest is the write area
    std::unique_ptr<unsigned char[]> arena;
    directory_reader reader;
    native_file scratch;
    std::uint64_t scratch_end = 0;
    std::vector<run> runs;
    std::size_t runs_made = 0;
    // Names in memory: records from the front of the arena, their offsets
    // (32-bit) from the end of the fill area backwards.
    std::size_t names_end = 0;
    std::size_t count = 0;
    std::size_t position = 0;  // the next of the sorted offsets to hand out
    bool merging = false;
    std::vector<cursor> cursors;
    std::vector<std::size_t> heap;
    std::size_t taken = SIZE_MAX;  // the cursor whose name was handed out last
    std::string_view current;
    bool current_regular = false;
};

// The folder for scratch files when the user named none: TMPDIR (POSIX, when
// set and not empty) or /tmp; GetTempPathW on Windows. No separator at the end
// unless the folder is a root.
[[nodiscard]] int temporary_folder(std::wstring& out);

}  // namespace korvane::platform

#endif
