// Running another program and collecting what it wrote. Used by the end-to-end
// tests; korvane itself starts no processes.
#ifndef KORVANE_PLATFORM_PROCESS_H
#define KORVANE_PLATFORM_PROCESS_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace korvane::platform {

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
};

process_result run_process(const std::vector<std::string>& argv, const process_options& options);

}  // namespace korvane::platform

#endif
