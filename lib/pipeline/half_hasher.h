// The split of a large CRC or BLAKE3 file: the back half is read and hashed
// on a thread of its own while the worker does the front half. CRC-32 values
// of two pieces combine, and so do BLAKE3's subtrees, so a large file alone
// keeps two cores busy.
#ifndef KORVANE_PIPELINE_HALF_HASHER_H
#define KORVANE_PIPELINE_HALF_HASHER_H

#include <atomic>
#include <cstdint>

#include "pipeline/engine.h"
#include "platform/file_read.h"

class hasher;

namespace korvane::detail {

class half_hasher {
  public:
    // The thread stops at its next chunk once `stopping` is set.
    explicit half_hasher(const std::atomic<std::uint32_t>& stopping) : owner_stopping(stopping) {}
    ~half_hasher();
    half_hasher(const half_hasher&) = delete;
    half_hasher& operator=(const half_hasher&) = delete;

    // Makes the thread and its buffer on first use; false when either cannot
    // be had (the file is then hashed in one piece).
    [[nodiscard]] bool ready();

    // Hashes `length` bytes of `file` from `offset` on: their CRC-32, or with
    // `tree` the chaining value of the BLAKE3 subtree they are (`offset` a
    // multiple of the chunk).
    void start(platform::file_handle file_, std::uint64_t offset_, std::uint64_t length_,
               bool tree_ = false);

    // Bytes hashed so far, for the progress of the file.
    std::uint64_t bytes_hashed() const { return hashed.load(std::memory_order_relaxed); }

    // Waits until the half is done and gives its error number (0 when the
    // CRC-32 in `value` is that of the half). With `cancel`, the thread stops
    // at its next chunk. After this the file is the caller's again.
    [[nodiscard]] int finish(bool cancel, std::uint32_t& value);
    // As finish, for a BLAKE3 half: its chaining value, 32 bytes, in `cv`.
    [[nodiscard]] int finish(bool cancel, unsigned char* cv);

  private:
    static constexpr std::uint32_t idle = 0, working = 1, done = 2, quit = 3;

    static void entry(void* self) { static_cast<half_hasher*>(self)->run(); }
    void run();
    [[nodiscard]] int hash_half();
    [[nodiscard]] int read_into(hasher& half);

    const std::atomic<std::uint32_t>& owner_stopping;
    aligned_buffer buffer;
    void* handle = nullptr;
    std::atomic<std::uint32_t> phase{idle};
    std::atomic<std::uint32_t> cancelled{0};
    std::atomic<std::uint64_t> hashed{0};
    // Written by the thread while working, read by the worker once done.
    platform::file_handle file = platform::invalid_file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool tree = false;
    int error = 0;
    unsigned char result[32] = {};  // the CRC-32 in its first four bytes
};

}  // namespace korvane::detail

#endif
