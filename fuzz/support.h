// Shared pieces of the fuzz targets: a private scratch folder on a memory file
// system, the configuration folder pointed into it, small file helpers, and the
// check that turns a violated property into a crash libFuzzer reports.
#ifndef KORVANE_FUZZ_SUPPORT_H
#define KORVANE_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace korvane::fuzz {

[[noreturn]] void property_failed(const char* what, const char* file, int line);

// A property of the code under test. Unlike assert it is never compiled out.
#define FUZZ_CHECK(condition)                                                 \
    do {                                                                      \
        if (!(condition)) {                                                   \
            ::korvane::fuzz::property_failed(#condition, __FILE__, __LINE__); \
        }                                                                     \
    } while (0)

// A folder of this process, created on first use and removed at exit. It lives
// on a memory file system when there is one, so that the many small writes and
// syncs of a campaign cost no disk traffic.
const std::filesystem::path& scratch();

// Points the configuration store at scratch()/config and writes `text` as its
// file (no file for a null text). The caller reloads the store.
void write_config(const char* text);
std::filesystem::path config_file();

void write_file(const std::filesystem::path& path, std::string_view bytes);
std::string read_file(const std::filesystem::path& path);

// Bytes as the wide text of the POSIX build: one unit per byte.
std::wstring widen(std::string_view bytes);

}  // namespace korvane::fuzz

#endif
