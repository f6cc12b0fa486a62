// The entries of a list being created, written as they come rather than
// collected: a run over millions of files must not need memory for each of
// them. Lines wait in a buffer of fixed size; what overflows goes to a
// scratch file beside the list that no name refers to, so that nothing of
// it remains however the process ends, and only the final join of the
// lines makes a named file (the list's own temporary file).
#ifndef KORVANE_FORMATS_SPOOL_H
#define KORVANE_FORMATS_SPOOL_H

#include <korvane/container.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"
#include "status.h"

namespace korvane::detail {

class checksum_stream;

// The size of each buffer of a new line_spool; 0 restores the default. For
// tests, which overflow the buffers with few entries.
void set_spool_capacity(std::size_t bytes);

// Lines in the order they came: the first in the scratch file, the latest in
// the buffer.
class line_spool {
  public:
    // Forgets earlier lines; a scratch file goes beside `target` when needed.
    void start(const wchar_t* target, std::size_t capacity);
    // Makes the buffer's memory ready, so that append allocates nothing.
    void prepare() { buffer.reserve(capacity); }
    // 0 or the error number of the scratch file's creation or write.
    [[nodiscard]] int append(std::string_view bytes);
    // Writes every line to `to`: the scratch file in large chunks, then the
    // buffer.
    [[nodiscard]] status copy_to(checksum_stream& to);
    // Forgets the lines and gives back their memory and scratch file.
    void drop();

  private:
    [[nodiscard]] int spill(std::string_view bytes);

    std::wstring target;
    std::size_t capacity = 0;
    std::string buffer;
    platform::native_file scratch;
    std::uint64_t spilled = 0;  // bytes in the scratch file
};

using line_formatter = void (*)(const file_entry& entry, int stream, std::string& out);

// One or two streams of lines, one line of each per entry (SFV: its comment
// line and its entry line), and what keeps the list from being written.
class entry_spool {
  public:
    static constexpr int max_streams = 2;

    void start(const wchar_t* target, int count);
    bool active() const { return started; }
    // See container::spoolEntry. Throws std::bad_alloc before anything of the
    // entry is taken.
    [[nodiscard]] status add(const wchar_t* name, const char* hash_text, std::uint64_t size,
                             std::uint64_t time, line_formatter format);
    // Writes the streams in turn to `to`; the status close fails with when
    // an entry cannot be written or a write failed before.
    [[nodiscard]] status join(checksum_stream& to);
    // Writes stream `index` alone to `to`, with the failure join would give.
    [[nodiscard]] status join_stream(checksum_stream& to, int index);
    // The line end each new line gets: CR LF unless told LF.
    void end_lines_with_lf(bool lf) { line_end = lf ? "\n" : "\r\n"; }
    // Formats an entry's lines (each with its line end) into `out` without
    // keeping them; the status close would fail with for its name.
    [[nodiscard]] status format_lines(const wchar_t* name, const char* hash_text,
                                      std::uint64_t size, std::uint64_t time,
                                      line_formatter formatter, std::string* out, int count);
    void drop();
    // Whether the format writes a name with a line break in an escaped form
    // (digest lists: a leading backslash, "\n" and "\r"); otherwise such a
    // name cannot go into the list.
    void escape_line_breaks(bool on) { escapes = on; }

  private:
    // The name as the bytes the list holds; ok, or the status close is to
    // fail with.
    [[nodiscard]] status convert_name(const wchar_t* name);
    [[nodiscard]] status failure() const;

    line_spool streams[max_streams];
    int stream_count = 0;
    bool started = false;
    status refused = status::ok;  // an entry that cannot be written
    int failed_error = 0;         // the error number of a failed write, 0 if none
    status failed = status::ok;
    std::string name_bytes;
    std::string lines[max_streams];
    const char* line_end = "\r\n";
    bool escapes = false;
};

}  // namespace korvane::detail

#endif
