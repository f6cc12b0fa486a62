// The buffered byte stream behind every checksum file: line reading with the
// text-mode rules of checksum files, buffered writing, and the temporary file a
// new list is written to before it replaces its target.
#ifndef KORVANE_FORMATS_STREAM_H
#define KORVANE_FORMATS_STREAM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"

namespace korvane::detail {

// One physical line as it stands in the file.
struct raw_line {
    std::string bytes;        // the line with its line end, at most `keep` bytes of it
    std::size_t length = 0;   // the line's length without its line end (LF or CR LF)
    bool has_end = false;     // false for a last line without a line feed
    std::uint64_t start = 0;  // the file position of its first byte
};

class checksum_stream {
  public:
    checksum_stream();
    ~checksum_stream();
    checksum_stream(const checksum_stream&) = delete;
    checksum_stream& operator=(const checksum_stream&) = delete;

    // Each returns 0 or a negative status code.
    int open_existing(const wchar_t* path, bool writable);
    // Starts a new file beside `target`; nothing reaches `target` before commit.
    int create_for(const wchar_t* target);
    // Writes out everything, makes it durable and renames the new file over its
    // target; on failure the temporary file is removed and the target untouched.
    int commit();
    // Closes without writing anything more; removes an uncommitted new file.
    void discard();
    // Flushes and closes an opened file.
    int close();

    // Reads one line the way a text-mode wide line read does: at most
    // `count` - 1 units, stopping after a line feed; CR LF counts as one line
    // feed, a lone CR is text; the line feed is dropped and empty lines are
    // skipped; a UTF-8 byte-order mark at the start of the file is dropped.
    // Returns the length, 0 at the end, or a negative status.
    int read_line(wchar_t* buffer, int count);
    // Reads one whole physical line. Returns 1, 0 at the end, or a negative status.
    int read_raw_line(raw_line& line, std::size_t keep);

    // The position of the next byte read or written. Writing after reading
    // needs a seek first: the read buffer runs ahead of the file position.
    std::uint64_t tell() const;
    int seek(std::uint64_t position);
    int write(std::string_view bytes);
    int flush();
    int truncate_here();
    // Cuts the file at `size` without writing pending bytes (they are dropped).
    int truncate_to(std::uint64_t size);

  private:
    // Makes at least `want` unread bytes available unless the file ends first.
    // Returns 0 or a negative status.
    int fill(std::size_t want);
    int status_of(int error) const;

    platform::native_file file;
    std::wstring target_path;  // set while writing a new file
    std::wstring temp_path;
    std::vector<char> in;         // read buffer
    std::size_t in_begin = 0;     // first unread byte
    std::size_t in_end = 0;       // end of the valid bytes
    std::uint64_t in_offset = 0;  // file position of in[0]
    bool at_end = false;
    std::string out;               // pending writes
    std::uint64_t out_offset = 0;  // file position of out[0]
    bool writing = false;
};

}  // namespace korvane::detail

#endif
