// Queued paths: records taken from a pool in blocks, the list of files to hash
// and the queue of directories to walk.
#ifndef KORVANE_APP_PATHS_H
#define KORVANE_APP_PATHS_H

#include <cstddef>
#include <cstdint>

namespace korvane::app {

// The longest path korvane builds: 263 units and the terminating zero.
constexpr std::size_t path_buffer_units = 264;

// Whether anyone has looked at a found file's status. A file a listing named
// as regular may go to the workers unexamined (they look as they open it);
// `refused` once a look made here left it out, said so already.
enum class examination : unsigned char { done, pending, refused };

struct path_record {
    // Paths that fit stay inline: no heap allocation for the common case. The
    // buffer holds 256 bytes whatever the width of a unit.
    static constexpr std::size_t inline_units = 256 / sizeof(wchar_t);

    wchar_t inline_text[inline_units];
    wchar_t* text;  // inline_text or an owned heap copy
    path_record* next;
    // Identity of the file or directory when it was examined; the creation run
    // uses it to leave its own target out, the walk to recognise loops.
    std::uint64_t device;
    std::uint64_t inode;
    path_record* parent;  // the directory that listed this one (walk only)
    // A directory of the walk is kept while it waits to be walked (one) and
    // while directories below it are kept (one each): they may still need it
    // as an ancestor to recognise a loop.
    std::size_t holds;
    examination look;
};

// Records come from blocks of 4096 slots; released slots are reused, and the
// blocks are freed all at once.
class path_pool {
  public:
    path_pool() = default;
    ~path_pool() { free_all(); }
    path_pool(const path_pool&) = delete;
    path_pool& operator=(const path_pool&) = delete;

    // A record holding a copy of `length` units at `text`, or null when memory
    // runs out.
    path_record* take(const wchar_t* text, std::size_t length);
    void release(path_record* record);
    void free_all();
    // The records taken and not yet released.
    std::size_t live() const { return live_records; }

  private:
    static constexpr std::size_t block_slots = 4096;
    struct block {
        block* previous;
        path_record slots[block_slots];
    };
    block* newest = nullptr;
    path_record* free_list = nullptr;
    std::size_t live_records = 0;
};

// A singly linked first-in first-out list of records.
struct path_list {
    path_record* head = nullptr;
    path_record** tail = &head;

    void append(path_record* record) {
        record->next = nullptr;
        *tail = record;
        tail = &record->next;
    }
    // Takes the first record off the list; null when it is empty.
    path_record* pop_front() {
        path_record* record = head;
        if (record != nullptr) {
            head = record->next;
            if (head == nullptr) {
                tail = &head;
            }
        }
        return record;
    }
    // Gives every record back to the pool and leaves the list empty.
    void release_all(path_pool& pool);
};

}  // namespace korvane::app

#endif
