#include "jobs.h"

#include <korvane/config.h>
#include <korvane/jobs.h>

#include <algorithm>

#include "platform/cpu.h"
#include "platform/env.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {
// A copy: a static member of a class imported from a DLL cannot be bound to a
// reference.
constexpr int most_jobs = file_jobs::max_jobs;
}  // namespace

int parse_jobs(const char* text) {
    if (text == nullptr || *text == '\0') {
        return 0;
    }
    int value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return 0;
        }
        value = value * 10 + (*text - '0');
        if (value > most_jobs) {
            return 0;
        }
    }
    return value;
}

int parse_jobs(const wchar_t* text) {
    char narrow[8];
    std::size_t i = 0;
    for (; text != nullptr && text[i] != L'\0'; ++i) {
        if (i + 1 >= sizeof narrow || text[i] < L'0' || text[i] > L'9') {
            return 0;
        }
        narrow[i] = static_cast<char>(text[i]);
    }
    narrow[i] = '\0';
    return parse_jobs(narrow);
}

int choose_jobs(int from_command_line) {
    if (from_command_line > 0) {
        return from_command_line;
    }
    if (auto text = platform::get_environment("KORVANE_JOBS")) {
        if (int jobs = parse_jobs(text->c_str()); jobs > 0) {
            return jobs;
        }
    }
    if (int jobs = parse_jobs(static_cast<const char*>((*config::instance())["jobs"])); jobs > 0) {
        return jobs;
    }
    return std::clamp(platform::usable_cpu_count(), 1, most_jobs);
}

}  // namespace korvane::app
