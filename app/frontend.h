#ifndef KORVANE_APP_FRONTEND_H
#define KORVANE_APP_FRONTEND_H

namespace korvane::app {

// The program: options, mode selection and the runs. Returns the exit status.
int run(int argc, wchar_t** argv);

}  // namespace korvane::app

#endif
