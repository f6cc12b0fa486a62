#include "pipeline/disk_rule.h"

#include "platform/cpu.h"
#include "platform/threading.h"

namespace platform = korvane::platform;

namespace korvane::detail {

bool disk_turn::take(const std::atomic<std::uint32_t>& stopping) {
    while (busy.exchange(1) != 0) {
        if (stopping.load(std::memory_order_relaxed) != 0) {
            return false;
        }
        platform::wait_on_word(busy, 1);
    }
    return true;
}

void disk_turn::give_back() {
    busy.store(0);
    platform::wake_word(busy);
}

void disk_turn::wait_while_taken() const {
    platform::wait_on_word(busy, 1);
}

void disk_turn::wake_all() const {
    platform::wake_word(busy);
}

large_read plan_large_read(platform::file_handle file, std::uint64_t size, bool ask_memory) {
    large_read plan;
    plan.seeks = platform::on_rotational_disk(file);
    plan.from_disk = (plan.seeks || ask_memory) && !platform::all_in_memory(file, size);
    return plan;
}

}  // namespace korvane::detail
