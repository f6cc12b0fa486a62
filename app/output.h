// Console messages of the program: a small printf-like formatter over wide
// text (only %s, %d and %%), so that no locale-dependent conversion is ever
// involved.
#ifndef KORVANE_APP_OUTPUT_H
#define KORVANE_APP_OUTPUT_H

#include <initializer_list>
#include <string>
#include <variant>

#include "platform/clock.h"
#include "status.h"

namespace korvane::app {

using format_arg = std::variant<const wchar_t*, int>;

std::wstring format(const wchar_t* pattern, std::initializer_list<format_arg> args = {});

// Standard output. Results are buffered when output goes to a pipe or file and
// written at once on a terminal; progress lines are always written at once.
void print(const wchar_t* pattern, std::initializer_list<format_arg> args = {});
void print_now(const wchar_t* pattern, std::initializer_list<format_arg> args = {});
// From now on, each record print() writes ends in NUL rather than a line
// feed, and names in it are written as they are, unescaped (-z).
void end_records_with_nul(bool on);
// The progress line kept at the bottom of a terminal (the console reporter
// decides whether there is one). While it is shown, every line print(),
// print_now() and print_error() write is preceded by erasing it and followed
// by drawing it again, in one write, so that result lines scroll above it and
// no piece of it stays behind. A text that leaves its line open (no line
// feed at its end) hides it until a line is ended.
void show_status_line(const std::wstring& text);
void clear_status_line();
// Standard error.
void print_error(const wchar_t* pattern, std::initializer_list<format_arg> args = {});

// "YYYY-MM-DD" `between` "HH:MM:SS" `after`: a calendar time as messages
// and the JSON output write it.
std::wstring calendar_text(const platform::calendar_time& when, wchar_t between,
                           const wchar_t* after);

// The text of a status, and of a status as the library exports it.
const wchar_t* status_message(status code);
const wchar_t* status_message(int code);
// The text of a checksum file's failure with status `code`: what the OS said
// when the library kept that ("No space left on device", "File write error"
// for a failed write or sync), else the status's text. Takes the kept cause.
const wchar_t* failure_message(status code);
// The words for a failure to write a file of korvane's own: what the OS said
// (`error`, a C runtime error number, or 0), else the status's.
const wchar_t* write_failure_message(int error, status code);
// Drops a kept cause, so that a later failure without one is not given it.
void forget_failure_cause();

}  // namespace korvane::app

#endif
