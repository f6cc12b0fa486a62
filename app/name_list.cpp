#include "name_list.h"

#include <cstring>

#include "expand.h"
#include "paths.h"
#include "report.h"

namespace korvane::app {

namespace {

// The most bytes a name that fits the room for paths can take (UTF-8 on
// Windows: up to four bytes a unit).
constexpr std::size_t name_byte_bound = 4 * path_buffer_units;

}  // namespace

name_reader::~name_reader() {
    if (owns_file) {
        platform::close_file(file);
    }
}

int name_reader::open(const wchar_t* path) {
    if (std::wcscmp(path, L"-") == 0) {
        file = platform::standard_input();
        return file == platform::invalid_file ? EBADF : 0;
    }
    const int error = platform::open_for_streaming(path, file);
    owns_file = error == 0;
    return error;
}

int name_reader::fill() {
    std::size_t got = 0;
    if (int error = platform::read_some(file, piece.data(), piece.size(), got); error != 0) {
        return error;
    }
    at = 0;
    filled = got;
    ended = got == 0;
    return 0;
}

bool name_reader::take_run(bool& too_long) {
    const char* start = piece.data() + at;
    const void* found = std::memchr(start, separator, filled - at);
    const auto run = static_cast<std::size_t>(
        found != nullptr ? static_cast<const char*>(found) - start : filled - at);
    const std::size_t room = name_byte_bound - bytes.size();
    too_long = too_long || run > room;
    bytes.append(start, run < room ? run : room);
    at += run + (found != nullptr ? 1 : 0);
    return found != nullptr;
}

int name_reader::next(std::wstring& name, bool& too_long) {
    bytes.clear();
    too_long = false;
    for (;;) {
        if (at == filled && !ended) {
            if (int error = fill(); error != 0) {
                return -error;
            }
        }
        if (at == filled) {
            if (bytes.empty() && !too_long) {
                return 0;  // the end (an empty last name is none)
            }
            break;
        }
        if (take_run(too_long) && (!bytes.empty() || too_long)) {
            break;  // an empty name is passed over
        }
    }
    if (!platform::name_from_bytes(bytes, name)) {
        name.assign(bytes.begin(), bytes.end());
    }
    if (name.size() >= path_buffer_units) {
        too_long = true;
        name.resize(path_buffer_units - 1);
    }
    return 1;
}

namespace {

[[nodiscard]] status read_one_list(const std::wstring& path, const run_settings& settings,
                                   expansion_state& state, reporter& report,
                                   const std::function<status(const wchar_t*)>& each) {
    name_reader reader(settings.null_separated);
    int error = reader.open(path.c_str());
    std::wstring name;
    while (error == 0) {
        bool too_long = false;
        const int got = reader.next(name, too_long);
        if (got <= 0) {
            error = -got;
            break;
        }
        if (too_long) {
            if (state.settle_found) {
                if (status settled = state.settle_found(); settled != status::ok) {
                    return settled;
                }
            }
            report.walk_problem_met({walk_issue::name_too_long, name.c_str()});
            continue;
        }
        if (status result = each(name.c_str()); result != status::ok) {
            return result;
        }
    }
    if (error == 0) {
        return status::ok;
    }
    const status cause = error == ENOMEM ? status::unknown_error : from_errno(error);
    report.walk_problem_met({walk_issue::unreadable_name_list, path.c_str(), cause});
    return cause == status::ok ? status::file_read_error : cause;
}

}  // namespace

status read_name_lists(const run_settings& settings, expansion_state& state, reporter& report,
                       const std::function<status(const wchar_t*)>& each) {
    for (const std::wstring& path : settings.files_from) {
        if (status result = read_one_list(path, settings, state, report, each);
            result != status::ok) {
            return result;
        }
    }
    return status::ok;
}

}  // namespace korvane::app
