// Opening and reading the files that are hashed.
#ifndef KORVANE_PLATFORM_FILE_READ_H
#define KORVANE_PLATFORM_FILE_READ_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::platform {

// An open file as an opaque value: the descriptor on POSIX, the HANDLE on
// Windows. `invalid_file` never names an open file.
using file_handle = void*;
inline file_handle const invalid_file =
    reinterpret_cast<file_handle>(static_cast<std::intptr_t>(-1));

// What a creation asks of each file before it is opened, besides being a
// regular file; looked at on what the name reaches, a link followed.
struct hashing_checks {
    // A file whose owner may not read it is refused (POSIX's owner-read bit;
    // Windows has none).
    bool owner_read = false;
    // The file of this identity (as file_info gives device and inode) is
    // refused: the list being written, however the name reaches it.
    bool exclude = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
};
// What open_for_hashing returns for a file `checks` refuse: no error number
// of the OS is either.
inline constexpr int refused_unreadable = 0x10001;
inline constexpr int refused_excluded = 0x10002;

// Opens a regular file for reading and takes its size. Anything but a regular
// file (a FIFO, a device, a device name on Windows) is never opened, also when
// a symbolic link names it, and gives the access-denied error number: opening
// a device acts on it. A link to a regular file is followed. Returns 0, or the C runtime's error
// number (EINVAL for a path the OS cannot represent). With `write_time`, also gives the file's last
// write time (100-ns ticks since 1601-01-01 UTC) from the same status query.
// With `checks`, a file they refuse is never opened and gives their refusal.
[[nodiscard]] int open_for_hashing(const wchar_t* path, file_handle& file, std::uint64_t& size,
                                   std::uint64_t* write_time = nullptr,
                                   const hashing_checks* checks = nullptr);

// A second handle on the same open file (the same bytes, even if the path is
// replaced meanwhile). Returns invalid_file on failure.
file_handle duplicate_file(file_handle file);

void close_file(file_handle file);

// Tells the OS that the file is read front to back once.
void advise_sequential(file_handle file);

// Reads exactly `length` bytes at `offset` into `buffer`. Returns 0, or an error
// number: the OS's on a failed read, EIO when the file ends early.
[[nodiscard]] int read_exact(file_handle file, void* buffer, std::size_t length,
                             std::uint64_t offset);

// A file read once from front to back, as a list of names is: one the user
// named (a pipe or FIFO too, as `<(find ...)` gives), or standard input.
// Returns 0, or the C runtime's error number (EISDIR for a folder).
[[nodiscard]] int open_for_streaming(const wchar_t* path, file_handle& file);
// Standard input, which close_file must not be given.
file_handle standard_input();
// Reads what comes next, up to `length` bytes; `got` is 0 at the end. Returns
// 0, or the C runtime's error number.
[[nodiscard]] int read_some(file_handle file, void* buffer, std::size_t length, std::size_t& got);
// A name as a list of names holds it (the name's bytes on POSIX, UTF-8 on
// Windows) in the units paths are made of. False when the bytes cannot be
// such a name.
[[nodiscard]] bool name_from_bytes(std::string_view bytes, std::wstring& out);

}  // namespace korvane::platform

#endif
