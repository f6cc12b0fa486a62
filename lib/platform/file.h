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

class native_file {
  public:
    native_file() = default;
    ~native_file();
    native_file(const native_file&) = delete;
    native_file& operator=(const native_file&) = delete;

    bool is_open() const { return handle >= 0; }

    // Opens an existing file for reading, or for reading and writing. Only a
    // regular file is accepted: anything else gives EACCES at once and is never
    // waited on (a FIFO or device does not block the open).
    int open_existing(const wchar_t* path, bool writable);

    // Creates a new, empty file with a unique name in the directory of `target`
    // and returns its path in `temp_path`, ready to be renamed over `target`.
    // An existing target that is not a regular file, or that the caller may not
    // write, gives EACCES: replacing it by rename would sidestep its protection.
    // The new file takes an existing target's permission bits.
    int create_beside(const wchar_t* target, std::wstring& temp_path);

    // Reads up to `size` bytes. Returns the count (0 at the end of the file) or,
    // negated, the error number (possibly 0 when the OS left none).
    std::int64_t read(void* buffer, std::size_t size);
    // Writes all `size` bytes, retrying short writes; 0 or the error number.
    int write_all(const void* data, std::size_t size);
    int seek(std::uint64_t offset);
    int truncate(std::uint64_t size);
    int sync();
    // Closes the descriptor; 0 or the error number of the close.
    int close();

  private:
    int handle = -1;
};

}  // namespace korvane::platform

#endif
