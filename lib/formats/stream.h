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
#include "status.h"

namespace korvane::detail {

// One physical line as it stands in the file.
struct raw_line {
    std::string bytes;        // the line with its line end, at most `keep` bytes of it
    std::size_t length = 0;   // the line's length without its line end (LF or CR LF)
    bool has_end = false;     // false for a last line without a line feed
    bool found = false;       // false when the file had ended: no line was read
    std::uint64_t start = 0;  // the file position of its first byte
};

// Which folder the names of the list resolve against, as the tag's
// signature line records it ("/" and 32 hexadecimal digits, see
// folder_code). `expected` is this run's, empty when the folder could not
// be identified; `found` the one of the tag read; `settled` once the two
// were compared.
struct name_folder {
    std::string expected;
    std::string found;
    bool resolved = false;  // resolve_name_folder ran
    bool settled = false;
    std::uint64_t device = 0;
    bool keeps_change_time = false;
    std::wstring file_system;  // the folder's file system, by name
    // Other file systems met below the folder (mount points), by device:
    // whether each keeps a change time. Bounded; a device beyond the
    // bound is asked again for each of its files.
    struct device_trust {
        std::uint64_t device;
        bool keeps_change_time;
    };
    std::vector<device_trust> devices;
    // The first file system on which an entry could not be trusted.
    std::wstring untrusted;
};

class checksum_stream {
  public:
    checksum_stream();
    ~checksum_stream();
    checksum_stream(const checksum_stream&) = delete;
    checksum_stream& operator=(const checksum_stream&) = delete;

    [[nodiscard]] status open_existing(const wchar_t* path, bool writable);
    // Switches an opened file to reading and writing, through a new open of
    // the same path that follows no link and takes only the user's own regular
    // file, and only when it is still the file that was opened. On failure the
    // stream stays as it was.
    [[nodiscard]] status reopen_for_rewrite();
    // Whether reopen_for_rewrite would succeed now, the stream left as it is:
    // a run that rewrites the file at its end learns before its work that it
    // could never write.
    [[nodiscard]] status check_rewritable();
    // After reopen_for_rewrite: keeps other writers out of the file until it
    // is closed (see native_file::exclude_writers) and checks that nobody
    // wrote it since open_existing. access_denied when another process has it
    // open or changed it meanwhile: whatever it wrote would be lost or
    // misread, so the file is to be left as it is. Where the file system
    // cannot keep writers out, the check alone decides.
    [[nodiscard]] status exclude_other_writers();
    // ok while the opened file has the size and times open_existing found;
    // list_changed once anything wrote it since.
    [[nodiscard]] status check_unchanged() const;
    // Lets go of the opened file and nothing else: a file held open cannot
    // be replaced by a rename on Windows.
    void release_file();
    // The path open_existing took.
    const std::wstring& path() const { return opened_path; }
    // Starts a new file beside `target`; nothing reaches `target` before commit.
    // The temporary file itself is made only when the first bytes are written
    // out (an interrupted run before that leaves nothing behind); whether the
    // folder takes one is tried at once.
    [[nodiscard]] status create_for(const wchar_t* target);
    // Writes out everything, makes it durable and renames the new file over its
    // target; on failure the temporary file is removed and the target untouched.
    [[nodiscard]] status commit();
    // Closes without writing anything more; removes an uncommitted new file.
    void discard();
    // Flushes and closes an opened file.
    [[nodiscard]] status close();

    // Reads one line the way a text-mode wide line read does: at most
    // `count` - 1 units, stopping after a line feed; CR LF counts as one line
    // feed, a lone CR is text; the line feed is dropped and empty lines are
    // skipped; a UTF-8 byte-order mark at the start of the file is dropped.
    // `length` receives the line's length, 0 at the end.
    [[nodiscard]] status read_line(wchar_t* buffer, int count, int& length);
    // Whether the line read_line gave last filled its room and goes on: the
    // next read_line (or copy_line) takes the rest of it.
    bool line_cut() const { return cut; }
    // The number, from 1, of the physical line read_line gave last (of its
    // first piece's line when it came in pieces); lines are counted from the
    // last seek to 0.
    std::uint64_t line_number() const { return current_line; }
    // How many lines were read whole since the last seek to 0, and setting
    // that back after a look elsewhere in the file.
    std::uint64_t lines_read() const { return lines_ended; }
    void restore_lines_read(std::uint64_t count) { lines_ended = count; }
    // Reads one whole physical line; `line.found` is false at the end.
    [[nodiscard]] status read_raw_line(raw_line& line, std::size_t keep);
    // The next `count` unread bytes or fewer at the end of the file, without
    // consuming them.
    [[nodiscard]] status peek(std::size_t count, std::string_view& bytes);
    // Passes the next physical line to `to` (or drops it when `to` is null) in
    // pieces, so that no line is ever held whole; a line without a line end
    // gets CR LF. `copied` is false at the end.
    [[nodiscard]] status copy_line(checksum_stream* to, bool& copied);
    // Copies the next `count` bytes to `to` in pieces.
    [[nodiscard]] status copy_bytes(checksum_stream& to, std::uint64_t count);

    // Whether the list opened is UTF-16 text (it starts with a byte-order
    // mark, FF FE or FE FF). Such a list is read as UTF-8: every read, peek
    // and position is of the UTF-8 text, never of the file's bytes, so it is
    // never written back.
    bool utf16() const { return encoding != text_encoding::bytes; }

    // The position of the next byte read or written. Writing after reading
    // needs a seek first: the read buffer runs ahead of the file position.
    std::uint64_t tell() const;
    [[nodiscard]] status seek(std::uint64_t position);
    [[nodiscard]] status write(std::string_view bytes);
    [[nodiscard]] status flush();
    // Flushes and makes the file's contents durable.
    [[nodiscard]] status sync();
    [[nodiscard]] status truncate_here();
    // Cuts the file at `size` without writing pending bytes (they are dropped).
    [[nodiscard]] status truncate_to(std::uint64_t size);

    // The status of an error number from the platform layer, kept as the
    // cause of the failure (status_cause) with what it failed at: opening or
    // reading, or writing the file out.
    [[nodiscard]] static status status_of(int error);
    [[nodiscard]] static status written_status_of(int error);

    name_folder folder;
    // What the signature line of the tag read holds after its prefix (the
    // signature and the folder code); empty when no tag was read.
    std::string tag_signature;
    // How a digest list's plain lines place their names (a name_form of
    // list_lines.h), settled by the first.
    int name_form = 0;
    // The line of the entry delivered last when its checksum field is not in
    // the format's regular form; 0 when it is.
    std::uint64_t irregular_line = 0;

  private:
    [[nodiscard]] status open_again_for_rewrite(platform::native_file& writable);
    // Makes at least `want` unread bytes available unless the file ends first.
    [[nodiscard]] status fill(std::size_t want);
    // The unread bytes up to and including the next line feed, or all that are
    // buffered when none is, filling an empty buffer first; empty at the end of
    // the file. They stay unread until in_begin moves past them.
    [[nodiscard]] status next_piece(std::string_view& piece, bool& line_ends);
    enum class text_encoding { bytes, utf16_le, utf16_be };
    // Reads the file's next bytes into `to`, transcoded to UTF-8 when the
    // file is UTF-16: at most `room` bytes, 0 at its end, or minus an error
    // number.
    [[nodiscard]] std::int64_t read_text(char* to, std::size_t room);
    // Notes the encoding a byte-order mark at the file's start names.
    [[nodiscard]] status detect_encoding();
    // Back to the start of a UTF-16 file, then past `position` bytes of its
    // UTF-8 text.
    [[nodiscard]] status seek_text(std::uint64_t position);

    // Counts a line whose end was taken; notes one begun but not ended.
    void note_line_end(bool ended, bool took_bytes);
    // Makes the temporary file of a new list.
    [[nodiscard]] status create_temporary();

    platform::native_file file;
    std::wstring target_path;  // set while writing a new file
    std::wstring temp_path;
    std::wstring opened_path;                         // the path open_existing took
    platform::native_file::stamp_value opened_stamp;  // the file as open_existing found it
    bool stamped = false;                             // opened_stamp holds it
    unsigned new_mode = 0600;                         // the permission bits a new list gets
    bool pending_create = false;  // create_for called, temporary file not made yet
    std::vector<char> in;         // read buffer
    std::size_t in_begin = 0;     // first unread byte
    std::size_t in_end = 0;       // end of the valid bytes
    std::uint64_t in_offset = 0;  // file position of in[0]
    bool at_end = false;
    bool cut = false;  // see line_cut
    text_encoding encoding = text_encoding::bytes;
    std::vector<unsigned char> units;  // UTF-16: bytes read, not yet transcoded
    std::uint64_t lines_ended = 0;     // line ends taken since the last seek to 0
    std::uint64_t current_line = 0;    // see line_number
    bool line_open = false;            // a line was started and its end not taken yet
    std::string out;                   // pending writes
    std::uint64_t out_offset = 0;      // file position of out[0]
    bool writing = false;
};

}  // namespace korvane::detail

#endif
