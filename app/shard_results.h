// The file a shard run leaves for the merge: a text of one record a line,
// its head first and an end line last, so that a task that died shows as
// a file without its end.
//
//   korvane-shard-results 1
//   kind verification | creation
//   shard K N
//   type WORD                    the list type's -t word
//   list SHA256 SIZE             verification: the list's bytes
//   folder CODE | -              verification: the folder names resolve in
//   doall 0 | 1                  verification: remembered verdicts ignored
//   run KEY                      creation: the folder and arguments, digested
//   started TICKS                100-ns ticks since 1601 UTC, at the start
//   e INDEX p                    an entry the list remembers as verified
//   e INDEX STATUS SIZE TIME HEX an entry hashed (HEX "-" unless STATUS is 0)
//   f ORDINAL SIZE TIME HEX PATH creation: a file hashed, by its place in the
//                                walk of all shards and its path as found
//   end RECORDS FOUND|UNTRUSTED  the records above; a creation's files found
//                                by the walk, a verification's untrusted
//                                file system or -
//
// Paths and other free text are written with every byte outside "!" to "~",
// and "%", as %XX, and a wider unit as %uXXXX.
#ifndef KORVANE_APP_SHARD_RESULTS_H
#define KORVANE_APP_SHARD_RESULTS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/file_read.h"
#include "status.h"

namespace korvane::app {

inline constexpr std::string_view results_magic = "korvane-shard-results 1";

std::string encode_text(std::wstring_view text);
bool decode_text(std::string_view text, std::wstring& out);

// Writes a results file in place of the one a path names: what it held is
// gone at once (so that no earlier run's results stand in for this one's),
// and the new one, written under a private name beside it, takes its name
// only once complete.
class results_writer {
  public:
    results_writer() = default;
    ~results_writer();
    results_writer(const results_writer&) = delete;
    results_writer& operator=(const results_writer&) = delete;

    [[nodiscard]] status begin(const std::wstring& path);
    bool active() const { return file_.is_open(); }
    // A line, without its line end.
    [[nodiscard]] status line(std::string_view text);
    [[nodiscard]] status commit();
    // The OS's error number behind the last failure, or 0.
    int error_number() const { return error_; }
    const std::wstring& path() const { return path_; }

  private:
    [[nodiscard]] status flush();
    [[nodiscard]] status fail(int error);
    void abandon();

    platform::native_file file_;
    std::wstring path_;
    std::wstring temp_;
    std::string buffer_;
    int error_ = 0;
};

// Reads a results file a line at a time; a line longer than any record can
// be is an error rather than a growing buffer.
class results_reader {
  public:
    static constexpr std::size_t longest_line = 256 * 1024;

    results_reader() = default;
    ~results_reader();
    results_reader(const results_reader&) = delete;
    results_reader& operator=(const results_reader&) = delete;

    // 0, or the error number of the open.
    [[nodiscard]] int open(const std::wstring& path);
    // The next line, without its end; false at the end of the file or on an
    // error (error() then tells).
    bool next(std::string_view& line);
    int error() const { return error_; }
    bool too_long() const { return too_long_; }
    // Bytes after the last line end, once the end of the file is reached.
    bool cut_short() const { return eof_ && end_ > start_; }
    std::uint64_t line_number() const { return number_; }
    void close();

  private:
    platform::file_handle file_ = platform::invalid_file;
    std::vector<char> buffer_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    bool eof_ = false;
    bool too_long_ = false;
    int error_ = 0;
    std::uint64_t number_ = 0;
};

// Splits a line into its fields at single spaces.
std::vector<std::string_view> fields_of(std::string_view line);
bool number_field(std::string_view text, std::uint64_t& out);
std::string hex_of(const unsigned char* bytes, std::size_t size);
bool bytes_of_hex(std::string_view text, unsigned char* out, std::size_t size);

}  // namespace korvane::app

#endif
