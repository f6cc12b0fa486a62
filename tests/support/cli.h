// Runs the built korvane program in a temporary directory whose configuration
// directory is private to the test.
#ifndef KORVANE_TESTS_SUPPORT_CLI_H
#define KORVANE_TESTS_SUPPORT_CLI_H

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

namespace korvane::testing {

struct cli_result {
    int status = -1;  // the process exit status (low eight bits)
    std::string out;
    std::string err;
    unsigned long long peak_memory_kib = 0;
};

class cli_test : public ::testing::Test {
  protected:
    temp_dir dir;
    unsigned long long file_size_limit = 0;
    // The most descriptors the program may have open (0: no limit; POSIX).
    unsigned long long descriptor_limit = 0;
    // Runs the program as an unprivileged user, so that permissions bite also
    // when the tests run as root. Tests check `can_drop_privileges()` first.
    bool as_nobody = false;
    bool can_drop_privileges();
    // Variables set (or, without a value, removed) for every program the
    // test runs, after the ones every test gets: TZ, for instance.
    std::vector<std::pair<std::string, std::optional<std::string>>> environment;

    // Runs korvane with `args` in the temporary directory.
    cli_result korvane(const std::vector<std::string>& args);
    // Runs any program in the temporary directory.
    cli_result run(const std::vector<std::string>& argv);

    // Remembered verifications trust only files whose change time lies before
    // the earlier run, less a margin for coarse time stamps: tests that rely on
    // skips let that margin pass after writing their files.
    static void let_time_pass();

    // Writes the configuration file korvane reads.
    void write_config(const std::string& text);
    std::filesystem::path config_dir() const { return dir / ".config-home"; }
};

// `text` with every CR LF turned into LF.
std::string lf_line_ends(const std::string& text);

// The status a shell sees for a negative exit status of the program.
constexpr int exit_status(int status) {
    return status & 0xFF;
}

}  // namespace korvane::testing

#endif
