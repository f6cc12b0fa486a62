// Thread and event primitives that carry all multithreading of korvane.
#ifndef KORVANE_THREAD_H
#define KORVANE_THREAD_H

#include <atomic>
#include <cstdint>
#include <memory>

#include <korvane/export.h>

// An unnamed auto-reset event, initially not signalled. A signal with nobody
// waiting stays pending until the next wait consumes it; several signals
// without a wait between them count as one; one signal releases at most one
// waiter.
class KORVANE_API event {
  public:
    // Waits without limit when given to timedwait.
    static constexpr std::uint32_t infinite = 0xFFFFFFFFu;

    event();
    virtual ~event();
    // A copy would close the same OS object twice.
    event(const event&) = delete;
    event& operator=(const event&) = delete;

    void signal();
    void wait();
    bool trywait();
    // True when the event was signalled within `milliseconds` (infinite: no limit).
    bool timedwait(std::uint32_t milliseconds);

  private:
    friend class thread;  // a thread without its start gate must not run at all
    void* os_handle;
};

// Base of every worker thread. The OS thread is created by the constructor and
// parks at a start gate until start() is called, so that run() - a virtual call -
// is never made before the derived object is complete.
class KORVANE_API thread {
  public:
    enum thread_state : std::int32_t { created = 0, running = 1, finished = 2 };

    // A null name gives "unknown".
    explicit thread(const char* name = nullptr);
    // Waits for a started thread to end. A thread that was never started is
    // released from its gate without running run(), so this never blocks on it.
    virtual ~thread();
    thread(const thread&) = delete;
    thread& operator=(const thread&) = delete;

    // The thread's body; the base body returns null at once.
    virtual void* run();
    // Lets the OS thread enter run(). Further calls have no effect.
    virtual void start();
    // Waits until the OS thread has ended (at once if it has already ended or
    // was never created) and returns this object.
    virtual thread* join();

    const char* name() const { return thread_name.get(); }
    thread_state state() const { return current_state.load(std::memory_order_acquire); }
    // What run() returned, once the thread has finished.
    void* returnValue() const { return return_value; }
    // The thread destroys its object (created with new) itself once run() has
    // returned; the owner must not destroy or join it afterwards.
    void setDeleteOnExit() { delete_on_exit.store(true, std::memory_order_release); }

  protected:
    static void threadProc(void* object);

    // For derived destructors, after they have told run() to return: releases a
    // thread that was never started and waits until the OS thread has ended.
    void stop_thread();

  private:
    void* os_handle;
    std::unique_ptr<char[]> thread_name;
    std::atomic<thread_state> current_state;
    event start_gate;
    std::atomic<bool> delete_on_exit;
    void* return_value;
    std::atomic<bool> start_called;
    std::atomic<bool> abandoned;  // the gate opens only to let the thread end
    bool joined;
};

#endif
