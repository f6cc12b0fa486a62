#include "support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace korvane::testing {

namespace {

std::string slurp(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            bytes.append(buffer, n);
        }
        std::fclose(f);
    }
    return bytes;
}

}  // namespace

process_result run_process(const std::vector<std::string>& argv, const process_options& options) {
    process_result result;
    if (argv.empty()) {
        return result;
    }
    const std::string scratch =
        options.scratch_directory.empty() ? std::string("/tmp") : options.scratch_directory;
    const std::string out_path =
        scratch + "/.korvane-process-" + std::to_string(::getpid()) + ".out";
    const std::string err_path =
        scratch + "/.korvane-process-" + std::to_string(::getpid()) + ".err";

    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);

    pid_t child = ::fork();
    if (child < 0) {
        return result;
    }
    if (child == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0) {
            ::_exit(127);
        }
        // Only the three standard descriptors reach the program, so that a
        // descriptor limit means what it says.
        for (int fd : {in, out, err}) {
            if (fd > 2) {
                ::close(fd);
            }
        }
        if (!options.working_directory.empty() && ::chdir(options.working_directory.c_str()) != 0) {
            ::_exit(127);
        }
        for (const auto& [name, value] : options.environment) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        if (options.file_size_limit != 0) {
            rlimit limit{options.file_size_limit, options.file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        }
        if (options.descriptor_limit != 0) {
            // Nothing inherited counts against the limit (a test runner's
            // pipes, say): the program has its three and nothing else.
            for (int fd = 3; fd < 1024; ++fd) {
                ::close(fd);
            }
            rlimit limit{options.descriptor_limit, options.descriptor_limit};
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            return result;
        }
    }
    result.started = true;
    result.peak_memory_kib = static_cast<unsigned long long>(usage.ru_maxrss);
    if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    ::unlink(out_path.c_str());
    ::unlink(err_path.c_str());
    return result;
}

int run_with_file_size_limit(std::uint64_t limit, int (*body)(void*), void* context) {
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit rl;
        rl.rlim_cur = static_cast<rlim_t>(limit);
        rl.rlim_max = static_cast<rlim_t>(limit);
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) {
            ::_exit(125);
        }
        ::_exit(body(context) & 0xFF);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace korvane::testing
