// How many files a run keeps in flight.
#ifndef KORVANE_APP_JOBS_H
#define KORVANE_APP_JOBS_H

namespace korvane::app {

// The number of files in flight a run uses: the command line's choice when
// given (0: none), else the KORVANE_JOBS environment variable, else the
// configuration key "jobs", else every processor the process may use.
int choose_jobs(int from_command_line);

// Parses a count of jobs: decimal digits only, 1 to file_jobs::max_jobs. 0
// when invalid.
int parse_jobs(const char* text);
int parse_jobs(const wchar_t* text);

}  // namespace korvane::app

#endif
