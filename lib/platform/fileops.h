// Whole-file operations: directory creation, deletion, renaming.
// Each returns 0 or the C runtime's error number.
#ifndef KORVANE_PLATFORM_FILEOPS_H
#define KORVANE_PLATFORM_FILEOPS_H

#include <cstddef>
#include <string>

namespace korvane::platform {

[[nodiscard]] int make_directory(const char* path);  // mode 0700 on POSIX
[[nodiscard]] int remove_file(const char* path);
[[nodiscard]] int rename_file(const char* from,
                              const char* to);  // replaces `to` atomically where the OS can
[[nodiscard]] int make_directory(const wchar_t* path);
[[nodiscard]] int remove_file(const wchar_t* path);
[[nodiscard]] int rename_file(const wchar_t* from, const wchar_t* to);

// Reads a whole small file into `out`: only a regular file (a FIFO or device
// gives EACCES at once and never blocks), of at most `limit` bytes (EFBIG).
[[nodiscard]] int read_small_file(const char* path, std::size_t limit, std::string& out);

// 0 when `path` is a directory that belongs to the user and that neither group
// nor others may write (always on Windows); EACCES otherwise, or the error.
[[nodiscard]] int check_private_directory(const char* path);

// An exclusive lock on the file `path` (created if missing, never through a
// link), held while the object lives: processes taking the same lock wait.
class file_lock {
  public:
    file_lock() = default;
    ~file_lock();
    file_lock(const file_lock&) = delete;
    file_lock& operator=(const file_lock&) = delete;
    [[nodiscard]] int acquire(const char* path);

  private:
    // One of the two is used, depending on the platform.
    [[maybe_unused]] void* handle = nullptr;
    [[maybe_unused]] int descriptor = -1;
};

// Creates or empties an ordinary file without ever following a symbolic link or
// waiting on a FIFO of that name.
[[nodiscard]] int create_marker_file(const wchar_t* path);

}  // namespace korvane::platform

#endif
