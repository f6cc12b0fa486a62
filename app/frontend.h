#ifndef KORVANE_APP_FRONTEND_H
#define KORVANE_APP_FRONTEND_H

namespace korvane::app {

// The program: options, mode selection and the runs. Returns the exit status.
int run(int argc, wchar_t** argv);

void print_usage();
void print_version(const wchar_t* program);

}  // namespace korvane::app

#endif
