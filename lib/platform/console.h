// Console output. Text is wide; on POSIX each code unit becomes the byte of the
// same value. Standard output is buffered here and flushed on request (and
// whenever standard error is written, so that the two stay in order).
#ifndef KORVANE_PLATFORM_CONSOLE_H
#define KORVANE_PLATFORM_CONSOLE_H

#include <cstddef>
#include <string_view>

namespace korvane::platform {

enum class console_stream { out, err };

void console_write(console_stream stream, std::wstring_view text);
void console_flush();
bool console_is_terminal(console_stream stream);
// Whether `stream` is a terminal that takes a carriage return and the ANSI
// sequence that erases to the end of the line ("\x1b[K"); on Windows this
// turns on the console's virtual terminal processing, and is false where the
// console has none.
bool console_can_erase_line(console_stream stream);
// The width of the terminal `stream` writes to, in columns; 0 when unknown.
int console_columns(console_stream stream);

}  // namespace korvane::platform

#endif
