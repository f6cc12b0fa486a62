// The write-fault switch for tests: counts the calls that change files and
// fails them from a chosen one on, as if the machine had stopped there.
#include <atomic>

#include "platform/file.h"

namespace korvane::platform {

namespace {
std::atomic<long> calls{0};
std::atomic<long> fail_from{0};
}  // namespace

void inject_write_faults(long from_call) {
    calls.store(0);
    fail_from.store(from_call);
}

long write_calls() {
    return calls.load();
}

bool injected_write_fault() {
    long number = calls.fetch_add(1) + 1;
    long from = fail_from.load();
    return from > 0 && number >= from;
}

}  // namespace korvane::platform
