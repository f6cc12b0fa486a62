// The disk rule: on a disk that seeks, one large file reads at a time unless
// the OS holds it in memory already. Two such files read at once would make
// the heads jump between them and cost far more than they overlap; small
// files, and large ones served from memory, still go alongside.
#ifndef KORVANE_PIPELINE_DISK_RULE_H
#define KORVANE_PIPELINE_DISK_RULE_H

#include <atomic>
#include <cstdint>

#include "platform/file_read.h"

namespace korvane::detail {

// The one large file of the jobs that reads from a disk that seeks.
class disk_turn {
  public:
    // Takes the turn if nobody has it.
    [[nodiscard]] bool try_take() { return busy.exchange(1) == 0; }
    // Waits for the turn; false (without it) once `stopping` is set.
    [[nodiscard]] bool take(const std::atomic<std::uint32_t>& stopping);
    void give_back();
    // Sleeps until the file that has the turn gives it back, or a stop wakes
    // every sleeper (wake_all).
    void wait_while_taken() const;
    void wake_all() const;

  private:
    std::atomic<std::uint32_t> busy{0};
};

// How a file larger than a chunk is to be read, asked once per such file.
struct large_read {
    bool seeks = false;      // it lies on a disk that seeks
    bool from_disk = false;  // some of it has to come from the disk
    // Both: it reads only in its turn (disk_turn), and not in two places at
    // once.
    bool needs_turn() const { return seeks && from_disk; }
};

// `ask_memory`: whether the caller needs from_disk even when the disk does
// not seek (it steps aside for the disk). Where the file is all in memory is
// asked only when the answer matters, as it costs a look at every page.
large_read plan_large_read(platform::file_handle file, std::uint64_t size, bool ask_memory);

}  // namespace korvane::detail

#endif
