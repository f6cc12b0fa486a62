// Whole-file operations: directory creation, deletion, renaming.
// Each returns 0 or the C runtime's error number.
#ifndef KORVANE_PLATFORM_FILEOPS_H
#define KORVANE_PLATFORM_FILEOPS_H

namespace korvane::platform {

int make_directory(const char* path);           // mode 0700 on POSIX
int remove_file(const char* path);
int rename_file(const char* from, const char* to);  // replaces `to` atomically where the OS can
int make_directory(const wchar_t* path);
int remove_file(const wchar_t* path);
int rename_file(const wchar_t* from, const wchar_t* to);

// Creates or empties an ordinary file without ever following a symbolic link or
// waiting on a FIFO of that name.
int create_marker_file(const wchar_t* path);

}  // namespace korvane::platform

#endif
