#ifndef KORVANE_APP_FRONTEND_H
#define KORVANE_APP_FRONTEND_H

#include <functional>

#include "expand.h"

class cmdline;

namespace korvane::app {

class reporter;

// The program: options, mode selection and the runs. Returns the exit status.
[[nodiscard]] int run(int argc, wchar_t** argv);

// What the option pass decided: go on to a run, or end with a status.
struct pass_result {
    bool finished = false;
    int status = 0;
};

// Applies the options in command-line order and hands every other element,
// whole, to `file_argument`, which returns 0 to go on or the status with which
// the program must end. Kept apart from the file system so that the option
// logic can be exercised on its own.
[[nodiscard]] pass_result option_pass(cmdline& args, wchar_t** argv, run_settings& settings,
                                      const std::function<int(const wchar_t*)>& file_argument);

// Without "-t", a list to verify whose name gives no type gets the type its
// content shows. Returns ok, or the status to end with when the content fits no
// type (after reporting it).
[[nodiscard]] status settle_type_by_content(run_settings& settings, reporter& report);

void print_usage();
void print_version(const wchar_t* program);

}  // namespace korvane::app

#endif
