// The reader thread: fetches one file at a time, in chunks, into a ring of
// eight slots ahead of a single consumer.
#ifndef KORVANE_READER_H
#define KORVANE_READER_H

#include <atomic>
#include <cstdint>

#include <korvane/export.h>
#include <korvane/thread.h>

class KORVANE_API reader : public thread {
  public:
    static constexpr int slot_count = 8;
    // Every chunk holds this many bytes, except the last of a file. Chunks are
    // copied into the reader's own buffers (a mapping would fault if the file
    // shrank); at this size the whole ring stays in the CPU caches, so the copy
    // and the hashing overlap at close to the speed of the copy alone.
    static constexpr std::uint32_t chunk_size = 256u * 1024u;
    // The value of error() after a failed read: the C runtime's EIO.
    static constexpr int io_error = 5;
    // The value of error() when the buffers could not be allocated: ENOMEM.
    static constexpr int out_of_memory = 12;

    reader();
    // Stops and joins the thread unless the owner has done so (shutdown(), then
    // join()); a reader that was never started ends without reading.
    ~reader() override;

    // Hands over an open file (an OS file handle: on POSIX the descriptor, as
    // a pointer-sized value) and the number of bytes to deliver. The reader reads
    // the file through `file` at explicit offsets and never closes it. Call only
    // while no other file is in progress: before the first file, or after wait()
    // has returned false for the previous one.
    void processFile(void* file, std::uint64_t size);

    // The consumer's hand-shake. `*chunk` is null on the first call for a file
    // and otherwise the chunk the previous call delivered, which is thereby given
    // back. True: `*chunk` and `*length` describe the next chunk, in file order.
    // False: the file has ended (error() tells whether completely) and the
    // consumer holds no chunk.
    bool wait(const unsigned char** chunk, std::uint32_t* length);

    // Ends the consumer's use of the current file. The file handle stays the
    // caller's to close.
    void closeFile();

    // Makes run() return; the owner then joins the thread.
    void shutdown();

    // 0, io_error once a read failed or the file ended early, or out_of_memory.
    [[nodiscard]] int error() const { return read_error.load(std::memory_order_acquire); }

  private:
    // A place where one thread sleeps until the other changes the ring.
    struct parking {
        std::atomic<std::uint32_t> generation{0};
        std::atomic<std::uint32_t> sleeping{0};
        // Used by the one thread that sleeps here: whether spinning has paid
        // off lately (see spin_failures_allowed in the platform layer).
        std::uint32_t waits = 0;
        std::uint32_t spin_failures = 0;
    };

    void* run() override;
    void fill_file();
    bool allocate_buffers();
    template <typename Ready>
    static void park_until(parking& spot, Ready ready);
    static void unpark(parking& spot);

    std::atomic<std::int32_t> stop_requested;
    event work_event;
    void* file_handle;
    std::uint64_t file_size;
    std::atomic<std::int32_t> read_error;
    std::int32_t read_index;
    std::atomic<std::int32_t> free_slots;
    std::atomic<std::uint64_t> bytes_remaining;
    unsigned char* buffers;  // slot_count chunks of chunk_size bytes, allocated on first use
    unsigned char* views[slot_count];
    std::uint32_t lengths[slot_count];
    parking consumer_spot;
    parking producer_spot;
};

#endif
