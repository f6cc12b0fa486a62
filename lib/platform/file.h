// Unbuffered access to one file by descriptor, for the checksum-file classes.
// Every call returns 0 (or a byte count) on success and the C runtime's error
// number on failure; buffering is left to the caller, so that a checksum file of
// many lines costs a handful of system calls.
#ifndef KORVANE_PLATFORM_FILE_H
#define KORVANE_PLATFORM_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::platform {

// Returned instead of an error number when a wide path has no native form.
constexpr int error_unrepresentable_path = -1;
// Returned by exclude_writers when someone else has the file open.
constexpr int error_file_in_use = -2;

class native_file {
  public:
    native_file() = default;
    ~native_file();
    native_file(const native_file&) = delete;
    native_file& operator=(const native_file&) = delete;

    bool is_open() const { return handle >= 0; }
    void swap(native_file& other) {
        int mine = handle;
        handle = other.handle;
        other.handle = mine;
    }

    // Opens an existing file for reading, or for reading and writing. Only a
    // regular file is accepted: anything else gives EACCES and is never opened
    // (nor waited on), also when a symbolic link names it.
    [[nodiscard]] int open_existing(const wchar_t* path, bool writable);

    // Opens an existing file for reading and writing in place, never through a
    // symbolic link (a reparse point on Windows), and only a regular file owned
    // by the user running korvane (POSIX: the effective user); anything else
    // gives EACCES or the error of the open. Nothing is written into a file
    // that someone else planted or owns.
    [[nodiscard]] int open_for_rewrite(const wchar_t* path);

    // The identity of the open file: device and inode (volume serial number and
    // file index on Windows). 0 or the error number.
    [[nodiscard]] int identity(std::uint64_t& device, std::uint64_t& inode) const;

    // Creates a new, empty file under an unpredictable name (random bytes from
    // the OS) in the directory of `target` and returns its path in `temp_path`,
    // ready to be renamed over `target`. The name is created exclusively and
    // never through a link; another name is tried when one exists. Only the
    // owner may read or write it until set_mode.
    [[nodiscard]] int create_beside(const wchar_t* target, std::wstring& temp_path);
    // Creates a scratch file for reading and writing in the directory of
    // `target` that no name refers to once this returns (Linux: an unnamed
    // O_TMPFILE file; where the file system has none, a file made as
    // create_beside makes one and unlinked at once; Windows: deleted when its
    // handle closes), so that nothing of it remains however the process
    // ends. Only the owner may read or write it.
    [[nodiscard]] int create_scratch_beside(const wchar_t* target);
    // Gives the open file the permission bits `mode` (POSIX; Windows has none).
    [[nodiscard]] int set_mode(unsigned mode);

    // Reads up to `size` bytes. Returns the count (0 at the end of the file) or,
    // negated, the error number (possibly 0 when the OS left none).
    [[nodiscard]] std::int64_t read(void* buffer, std::size_t size);
    // Writes all `size` bytes, retrying short writes; 0 or the error number.
    [[nodiscard]] int write_all(const void* data, std::size_t size);
    [[nodiscard]] int seek(std::uint64_t offset);
    [[nodiscard]] int truncate(std::uint64_t size);
    [[nodiscard]] int sync();
    // Closes the descriptor; 0 or the error number of the close.
    [[nodiscard]] int close();

    // What any write to the file changes: its size and its modification and
    // change times (to the nanosecond where the OS keeps them). 0 or the error
    // number.
    struct stamp_value {
        std::uint64_t size = 0;
        std::uint64_t modified = 0;
        std::uint64_t changed = 0;
        bool operator==(const stamp_value&) const = default;
    };
    [[nodiscard]] int stamp(stamp_value& value) const;
    // Keeps every other writer out of the file opened by open_for_rewrite until
    // it is closed. Linux: a write lease, granted only while no other
    // descriptor of the file is open; while it is held every other open of the
    // file waits (the OS tells the holder with SIGIO, which an
    // interrupt_deferral takes; nothing else may be waiting for that signal).
    // Windows: the open itself shares no write access, so this is 0 at once.
    // Returns 0 once writers are kept out, error_file_in_use when another
    // descriptor is open (someone may be writing: leave the file alone), or
    // another error number when the file system cannot keep writers out.
    [[nodiscard]] int exclude_writers();

  private:
    int handle = -1;
};

// Checks that a new file may replace `target` and gives the permission bits
// it is to have: an existing target's 0777 bits when the target is a regular
// file owned by the user, otherwise 0666 less the umask (never a set-id or
// sticky bit of someone else's file). An existing target that is not a regular
// file, or that the caller may not write, gives EACCES: replacing it by rename
// would sidestep its protection.
[[nodiscard]] int replacement_mode(const wchar_t* target, unsigned& mode);

// For tests: from the `from_call`th call that changes a file on (a write,
// truncation, sync or rename, counted from 1 after this call) every such call
// fails with `error` (0: EIO), a write after storing the first half of its
// bytes, as if the machine had stopped there (EIO) or the disk had filled up
// (ENOSPC). 0 turns the faults off.
void inject_write_faults(long from_call, int error = 0);
// The number of such calls since inject_write_faults.
long write_calls();
// Counts one call; true when it is to fail. For the implementations.
bool injected_write_fault();
// The error number an injected fault fails with.
int injected_write_error();

}  // namespace korvane::platform

#endif
