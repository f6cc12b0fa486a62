#include "support/cli.h"

#include <chrono>
#include <thread>

#include "platform/process.h"

namespace korvane::testing {

cli_result cli_test::korvane(const std::vector<std::string>& args) {
    std::vector<std::string> argv{KORVANE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

cli_result cli_test::run(const std::vector<std::string>& argv) {
    std::filesystem::create_directories(config_dir());
    korvane::platform::process_options options;
    options.working_directory = dir.path().string();
    options.scratch_directory = std::filesystem::temp_directory_path().string();
    options.environment = {{"LOCALAPPDATA", config_dir().string()},
                           {"APPDATA", std::nullopt},
                           {"XDG_CONFIG_HOME", std::nullopt},
                           {"HOME", dir.path().string()}};
    options.file_size_limit = file_size_limit;
    auto result = korvane::platform::run_process(argv, options);
    EXPECT_TRUE(result.started) << argv[0];
    EXPECT_EQ(result.signal, 0) << "killed by signal " << result.signal;
    return {result.exit_status, result.out, result.err};
}

void cli_test::let_time_pass() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

void cli_test::write_config(const std::string& text) {
    std::filesystem::create_directories(config_dir() / "Korvane");
    write_file(config_dir() / "Korvane" / "korvane.conf", text);
}

}  // namespace korvane::testing
