// The fault switches for tests: count the calls that change files, or the
// allocations of list entries, and fail them from a chosen one on, as if the
// machine had stopped there or memory had run out.
#include <atomic>
#include <cerrno>

#include "platform/fault.h"
#include "platform/file.h"

namespace korvane::platform {

namespace {
std::atomic<long> calls{0};
std::atomic<long> fail_from{0};
std::atomic<long> allocations{0};
std::atomic<long> fail_allocations_from{0};
std::atomic<bool> untrusted_file_systems{false};
std::atomic<long> opened{0};
std::atomic<int> write_error{0};
}  // namespace

void inject_write_faults(long from_call, int error) {
    calls.store(0);
    write_error.store(error);
    fail_from.store(from_call);
}

int injected_write_error() {
    const int error = write_error.load();
    return error != 0 ? error : EIO;
}

long write_calls() {
    return calls.load();
}

bool injected_write_fault() {
    long number = calls.fetch_add(1) + 1;
    long from = fail_from.load();
    return from > 0 && number >= from;
}

void inject_allocation_faults(long from_call) {
    allocations.store(0);
    fail_allocations_from.store(from_call);
}

bool injected_allocation_fault() {
    long from = fail_allocations_from.load(std::memory_order_relaxed);
    if (from <= 0) {
        return false;
    }
    return allocations.fetch_add(1) + 1 >= from;
}

void inject_untrusted_file_systems(bool on) {
    untrusted_file_systems.store(on);
}

bool injected_untrusted_file_systems() {
    return untrusted_file_systems.load();
}

void count_opened_for_hashing() {
    opened.fetch_add(1, std::memory_order_relaxed);
}

long opened_for_hashing() {
    return opened.load(std::memory_order_relaxed);
}

}  // namespace korvane::platform
