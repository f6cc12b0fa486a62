// Bytes written once and read back once, in order: in memory up to a bound,
// beyond it in a scratch file that no name refers to, so that a creation of
// millions of files holds no more than the bound whatever it finds.
#ifndef KORVANE_APP_SPILL_H
#define KORVANE_APP_SPILL_H

#include <cstddef>
#include <string>
#include <vector>

#include "platform/file.h"
#include "status.h"

namespace korvane::app {

class spill_buffer {
  public:
    static constexpr std::size_t default_bound = 256 * 1024;

    explicit spill_buffer(std::size_t bound = default_bound) : bound_(bound) {}
    spill_buffer(const spill_buffer&) = delete;
    spill_buffer& operator=(const spill_buffer&) = delete;

    // Where a scratch file goes, once one is needed: the folder of `path` (a
    // file's path, as the list's own temporary file goes beside it). Empty:
    // the system's folder for temporary files.
    void place_beside(const std::wstring& path) { beside_ = path; }
    // The path a scratch file goes (or went) beside, for messages.
    std::wstring place() const;

    // Appends `size` bytes. A failure to make or write the scratch file is
    // returned; error_number() then tells what the OS said.
    [[nodiscard]] status append(const void* data, std::size_t size);
    // Ends writing; reading starts at the first byte.
    [[nodiscard]] status rewind();
    // Reads exactly `size` bytes into `out`; `got` is false at the end (a
    // record cut short counts as the end: nothing more was written).
    [[nodiscard]] status read(void* out, std::size_t size, bool& got);
    // Forgets everything; the scratch file goes away.
    void clear();

    // The error number behind the last failure (negative when the path had
    // no native form), 0 when none failed.
    int error_number() const { return error_; }
    bool spilled() const { return scratch_.is_open(); }
    bool empty() const { return !spilled() && memory_.empty(); }

  private:
    [[nodiscard]] status fail_with(int error);
    [[nodiscard]] status spill();
    [[nodiscard]] status refill();

    std::size_t bound_;
    std::wstring beside_;
    std::vector<char> memory_;
    std::size_t read_at_ = 0;  // the next byte of memory_ to read
    int error_ = 0;
    platform::native_file scratch_;
};

}  // namespace korvane::app

#endif
