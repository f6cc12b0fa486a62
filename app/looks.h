// Files looked at (kind, size, last write) on helper threads ahead of the
// thread that asked, which takes the answers in the order it asked. An update
// compares every listed file with what its list records, and the status query
// costs more than all the rest of an entry's work: on two cores, two queries
// at a time halve it.
#ifndef KORVANE_APP_LOOKS_H
#define KORVANE_APP_LOOKS_H

#include <korvane/container.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace korvane::app {

// One file to look at, with what its asker keeps beside it.
struct file_look {
    std::wstring listed;  // the entry's name as the list gives it
    std::wstring path;    // where the file is looked at
    std::uint64_t position = 0;
    std::int64_t index = 0;  // among the list's entries, from 0
    file_record record;
    // The answer: 0 or the error number, and what was seen.
    int error = 0;
    platform::file_info info;
};

class look_ahead {
  public:
    // `helpers` threads besides the asker (0: the asker looks itself, as it
    // also does whenever a helper cannot be started).
    explicit look_ahead(int helpers);
    ~look_ahead();
    look_ahead(const look_ahead&) = delete;
    look_ahead& operator=(const look_ahead&) = delete;

    bool has_room() const { return tail - head < slots.size(); }
    bool empty() const { return tail == head; }
    // The slot of the next look (has_room() must hold), to be filled in and
    // handed over with submit().
    file_look& next() { return slots[tail % slots.size()]; }
    void submit();
    // The oldest look, answered: waits for it, looking at files itself
    // while the helpers are behind.
    file_look& oldest();
    void pop();

  private:
    static void entry(void* self);
    void help();
    [[nodiscard]] bool claim(std::uint64_t& index);
    void answer(std::uint64_t index);
    void publish();

    std::vector<file_look> slots;
    std::unique_ptr<std::atomic<std::uint32_t>[]> done;
    std::vector<void*> threads;
    std::atomic<std::uint64_t> claimed{0};    // the next look a thread may take
    std::atomic<std::uint64_t> published{0};  // looks handed over so far
    std::atomic<std::uint32_t> wake{0};       // moves on each publish; helpers sleep on it
    std::atomic<std::uint32_t> sleepers{0};
    std::atomic<std::uint32_t> asker_waits{0};
    std::atomic<bool> stopping{false};
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
};

}  // namespace korvane::app

#endif
