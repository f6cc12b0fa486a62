#include "platform/threading.h"

#include <process.h>

#include <new>

#include "platform/win32/native.h"

namespace korvane::platform {

namespace {

struct thread_record {
    thread_entry entry;
    void* argument;
};

// The C runtime's thread start, so that the runtime's per-thread state is set
// up for code that uses it.
unsigned __stdcall thread_start(void* record) {
    thread_record start = *static_cast<thread_record*>(record);
    delete static_cast<thread_record*>(record);
    start.entry(start.argument);
    return 0;
}

}  // namespace

void* thread_create(thread_entry entry, void* argument) {
    auto* record = new (std::nothrow) thread_record{entry, argument};
    if (record == nullptr) {
        return nullptr;
    }
    std::uintptr_t handle = ::_beginthreadex(nullptr, 0, &thread_start, record, 0, nullptr);
    if (handle == 0) {
        delete record;
        return nullptr;
    }
    return reinterpret_cast<void*>(handle);
}

void thread_join(void* handle) {
    if (handle != nullptr) {
        ::WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
        ::CloseHandle(static_cast<HANDLE>(handle));
    }
}

void thread_detach(void* handle) {
    if (handle != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(handle));
    }
}

// Kernel auto-reset events: one signal releases at most one waiter, and a
// signal nobody waits for yet is kept. (The C++ library's atomic waits can
// lose a wake-up with this target's runtime, so nothing here relies on them.)
void* event_create() {
    return ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

void event_destroy(void* event) {
    if (event != nullptr) {
        ::CloseHandle(static_cast<HANDLE>(event));
    }
}

void event_signal(void* event) {
    if (event != nullptr) {
        ::SetEvent(static_cast<HANDLE>(event));
    }
}

bool event_wait(void* event, std::uint32_t timeout_ms) {
    if (event == nullptr) {
        return false;
    }
    static_assert(wait_forever == INFINITE);
    return ::WaitForSingleObject(static_cast<HANDLE>(event), timeout_ms) == WAIT_OBJECT_0;
}

void wait_on_word(const std::atomic<std::uint32_t>& word, std::uint32_t expected) {
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    auto* address = const_cast<std::atomic<std::uint32_t>*>(&word);
    ::WaitOnAddress(address, &expected, sizeof expected, INFINITE);
}

void wake_word(const std::atomic<std::uint32_t>& word) {
    ::WakeByAddressAll(const_cast<std::atomic<std::uint32_t>*>(&word));
}

void wake_word_some(const std::atomic<std::uint32_t>& word, std::uint32_t count) {
    auto* address = const_cast<std::atomic<std::uint32_t>*>(&word);
    // Past a handful, one call that wakes everybody is cheaper than a call each.
    if (count > 8) {
        ::WakeByAddressAll(address);
        return;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        ::WakeByAddressSingle(address);
    }
}

}  // namespace korvane::platform
