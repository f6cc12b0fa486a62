// The split of a large CRC or BLAKE3 file: the back half is read and hashed
// on a thread of its own while the worker does the front half. CRC-32 values
// of two pieces combine, and BLAKE3's tree lets the subtrees of two runs of
// chunks join, so a large file alone keeps two cores busy.
#ifndef KORVANE_PIPELINE_HALF_HASHER_H
#define KORVANE_PIPELINE_HALF_HASHER_H

#include <atomic>
#include <cstdint>
#include <memory>

#include <korvane/jobs.h>

#include "hash/blake3_range.h"
#include "hash/hashers.h"
#include "pipeline/engine.h"
#include "platform/file_read.h"

namespace korvane::detail {

class half_hasher {
  public:
    // Whether files of `kind` can be split at all.
    static bool splits(file_jobs::algorithm kind);

    // The thread stops at its next chunk once `stopping` is set.
    half_hasher(const std::atomic<std::uint32_t>& stopping, file_jobs::algorithm hashed_with)
        : owner_stopping(stopping), kind(hashed_with) {}
    ~half_hasher();
    half_hasher(const half_hasher&) = delete;
    half_hasher& operator=(const half_hasher&) = delete;

    // Makes the thread, its buffer and hashers on first use; false when any
    // cannot be had (the file is then hashed in one piece).
    [[nodiscard]] bool ready();

    // Where the front half of a file of `size` bytes ends: on a chunk
    // boundary, which keeps every read aligned and BLAKE3's runs whole.
    static std::uint64_t middle_of(std::uint64_t size);

    // The hasher for the front half: the worker's own for CRC, a run of
    // chunks from the first for BLAKE3.
    hasher& front(hasher& own);

    // Hashes `length` bytes of `file` from `offset` on.
    void start(platform::file_handle file_, std::uint64_t offset_, std::uint64_t length_);

    // Bytes hashed so far, for the progress of the file.
    std::uint64_t bytes_hashed() const { return hashed.load(std::memory_order_relaxed); }

    // Waits until the half is done and gives its error number (0 when the
    // half was hashed). With `cancel`, the thread stops at its next chunk.
    // After this the file is the caller's again.
    [[nodiscard]] int finish(bool cancel);

    // The digest of the whole file of `size` bytes, from the finalized front
    // (the hasher front() gave) and the back half, to `digest`.
    void join(hasher& front_half, std::uint64_t size, unsigned char* digest);

  private:
    static constexpr std::uint32_t idle = 0, working = 1, done = 2, quit = 3;

    static void entry(void* self) { static_cast<half_hasher*>(self)->run(); }
    void run();
    [[nodiscard]] int hash_half();

    const std::atomic<std::uint32_t>& owner_stopping;
    const file_jobs::algorithm kind;
    aligned_buffer buffer;
    // The back half's hasher, and BLAKE3's front run.
    owned_hasher back{nullptr, nullptr};
    std::unique_ptr<blake3::range> front_run;
    void* handle = nullptr;
    std::atomic<std::uint32_t> phase{idle};
    std::atomic<std::uint32_t> cancelled{0};
    std::atomic<std::uint64_t> hashed{0};
    // Written by the thread while working, read by the worker once done.
    platform::file_handle file = platform::invalid_file;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    int error = 0;
};

}  // namespace korvane::detail

#endif
