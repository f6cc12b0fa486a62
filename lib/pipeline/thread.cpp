#include <korvane/thread.h>

#include <cstring>

#include "platform/threading.h"

namespace platform = korvane::platform;

event::event() : os_handle(platform::event_create()) {}

event::~event() {
    platform::event_destroy(os_handle);
}

void event::signal() {
    platform::event_signal(os_handle);
}

void event::wait() {
    platform::event_wait(os_handle, platform::wait_forever);
}

bool event::trywait() {
    return platform::event_wait(os_handle, 0);
}

bool event::timedwait(std::uint32_t milliseconds) {
    return platform::event_wait(os_handle, milliseconds);
}

namespace {

std::unique_ptr<char[]> copy_name(const char* name) {
    if (name == nullptr) {
        name = "unknown";
    }
    std::size_t size = std::strlen(name) + 1;
    std::unique_ptr<char[]> copy(new char[size]);
    std::memcpy(copy.get(), name, size);
    return copy;
}

}  // namespace

thread::thread(const char* name)
    : os_handle(nullptr),
      thread_name(copy_name(name)),
      current_state(created),
      delete_on_exit(false),
      return_value(nullptr),
      start_called(false),
      abandoned(false),
      joined(false) {
    if (start_gate.os_handle != nullptr) {
        os_handle = platform::thread_create(&thread::threadProc, this);
    }
    if (os_handle == nullptr) {
        current_state.store(finished, std::memory_order_release);
    }
}

thread::~thread() {
    if (os_handle != nullptr && !joined) {
        if (!start_called.load(std::memory_order_acquire)) {
            abandoned.store(true, std::memory_order_release);
            start_gate.signal();
        }
        platform::thread_join(os_handle);
    }
}

void* thread::run() {
    return nullptr;
}

void thread::start() {
    start_called.store(true, std::memory_order_release);
    start_gate.signal();
}

thread* thread::join() {
    if (os_handle != nullptr && !joined) {
        platform::thread_join(os_handle);
        joined = true;
    }
    return this;
}

void thread::stop_thread() {
    if (os_handle == nullptr || joined) {
        return;
    }
    if (!start_called.load(std::memory_order_acquire)) {
        // The derived run() sees its stop flag on entry and returns at once.
        start();
    }
    join();
}

void thread::threadProc(void* object) {
    auto* self = static_cast<thread*>(object);
    self->start_gate.wait();
    if (self->abandoned.load(std::memory_order_acquire)) {
        // Released by the destructor of a thread that was never started: the
        // derived parts are gone, so run() must not be called.
        self->current_state.store(finished, std::memory_order_release);
        return;
    }
    self->current_state.store(running, std::memory_order_release);
    self->return_value = self->run();
    if (self->delete_on_exit.load(std::memory_order_acquire)) {
        // Nobody will join this thread: let it clean up after itself.
        platform::thread_detach(self->os_handle);
        self->os_handle = nullptr;
        self->current_state.store(finished, std::memory_order_release);
        delete self;
        return;
    }
    self->current_state.store(finished, std::memory_order_release);
}
