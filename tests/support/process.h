// Running another program and collecting what it wrote, and running a piece of
// a test in a child process with a file-size limit. Test scaffolding only:
// korvane itself starts no processes. One implementation per target, in
// posix/ and win32/.
#ifndef KORVANE_TESTS_SUPPORT_PROCESS_H
#define KORVANE_TESTS_SUPPORT_PROCESS_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane::testing {

struct process_result {
    bool started = false;
    int exit_status = -1;  // the low eight bits, as a shell sees them
    int signal = 0;        // the signal that ended it, or 0
    std::string out;
    std::string err;
    unsigned long long peak_memory_kib = 0;  // the program's peak resident set
};

struct process_options {
    std::string working_directory;
    // Variables to set (a value) or remove (nothing); the rest is inherited.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;
    // Where the captured output is kept while the program runs.
    std::string scratch_directory;
    // Limits the size of files the program may write (0: no limit).
    unsigned long long file_size_limit = 0;
    // Limits the descriptors the program may have open (0: no limit; POSIX
    // only).
    unsigned long long descriptor_limit = 0;
};

process_result run_process(const std::vector<std::string>& argv, const process_options& options);

// Runs `body` in a child process whose file-size limit is `limit` bytes (and
// whose signal for exceeding it is ignored, so that writes fail with an error
// instead of ending the process). Returns the child's exit status, or -1 when
// the child could not be run or ended abnormally. For tests of failing writes;
// Windows has no such limit and always returns -1.
int run_with_file_size_limit(std::uint64_t limit, int (*body)(void*), void* context);

}  // namespace korvane::testing

#endif
