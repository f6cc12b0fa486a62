#include "support/cli.h"

#include <chrono>
#include <thread>

#include "support/process.h"
#include "support/target.h"

namespace korvane::testing {

std::string lf_line_ends(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

cli_result cli_test::korvane(const std::vector<std::string>& args) {
    std::vector<std::string> argv{KORVANE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv);
}

bool cli_test::can_drop_privileges() {
    if (on_windows) {
        return false;
    }
    static const int answer = [] {
        temp_dir scratch;
        process_options options;
        options.scratch_directory = scratch.path().string();
        auto r = run_process({"sh", "-c", "test \"$(id -u)\" = 0 && command -v setpriv >/dev/null"},
                             options);
        return r.started && r.exit_status == 0 ? 1 : 0;
    }();
    return answer == 1;
}

cli_result cli_test::run(const std::vector<std::string>& plain_argv) {
    std::filesystem::create_directories(config_dir());
    std::vector<std::string> argv = plain_argv;
    if (as_nobody) {
        argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        // The unprivileged user must reach the test's folders.
        using std::filesystem::perms;
        std::filesystem::permissions(dir.path(), perms::all);
        std::filesystem::permissions(config_dir(), perms::all);
    }
    process_options options;
    options.working_directory = dir.path().string();
    options.scratch_directory = std::filesystem::temp_directory_path().string();
    options.environment = {{"LOCALAPPDATA", config_dir().string()},
                           {"APPDATA", std::nullopt},
                           {"XDG_CONFIG_HOME", std::nullopt},
                           {"HOME", dir.path().string()}};
    options.environment.insert(options.environment.end(), environment.begin(), environment.end());
    options.file_size_limit = file_size_limit;
    options.descriptor_limit = descriptor_limit;
    auto result = run_process(argv, options);
    EXPECT_TRUE(result.started) << argv[0];
    EXPECT_EQ(result.signal, 0) << "killed by signal " << result.signal;
    if (on_windows) {
        // Console lines end in CR LF there; the tests compare lines.
        result.out = lf_line_ends(result.out);
        result.err = lf_line_ends(result.err);
    }
    return {result.exit_status, result.out, result.err, result.peak_memory_kib};
}

void cli_test::let_time_pass() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
}

void cli_test::write_config(const std::string& text) {
    std::filesystem::create_directories(config_dir() / "Korvane");
    write_file(config_dir() / "Korvane" / "korvane.conf", text);
}

}  // namespace korvane::testing
