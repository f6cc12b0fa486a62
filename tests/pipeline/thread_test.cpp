// event and thread: the semantics the reader and processor are built on.
#include <korvane/thread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <vector>

namespace {

TEST(Event, SignalIsConsumedByExactlyOneWait) {
    event e;
    EXPECT_FALSE(e.trywait());
    e.signal();
    EXPECT_TRUE(e.trywait());
    EXPECT_FALSE(e.trywait());

    // Two signals without a wait between them count as one.
    e.signal();
    e.signal();
    EXPECT_TRUE(e.timedwait(0));
    EXPECT_FALSE(e.timedwait(0));
    EXPECT_FALSE(e.timedwait(20));

    e.signal();
    e.wait();
    EXPECT_FALSE(e.trywait());
}

// Runs a function on a thread of its own; the test then joins it.
class function_thread : public thread {
  public:
    template <typename F>
    explicit function_thread(F f, const char* name = "test") : thread(name), body(f) {}
    // Tests join every thread they start before it goes out of scope.
    ~function_thread() override = default;

  private:
    void* run() override { return body(); }
    std::function<void*()> body;
};

TEST(Event, SignalReleasesOneOfTwoWaiters) {
    event e;
    std::atomic<int> released{0};
    auto waiter = [&]() -> void* {
        if (e.timedwait(300)) {
            released.fetch_add(1);
        }
        return nullptr;
    };
    function_thread a(waiter), b(waiter);
    a.start();
    b.start();
    e.signal();
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 1);
}

TEST(Event, SignalWakesSleepingWaiter) {
    event e, ready;
    function_thread waiter([&]() -> void* {
        ready.signal();
        e.wait();
        return &e;
    });
    waiter.start();
    ready.wait();
    e.signal();
    EXPECT_EQ(waiter.join()->returnValue(), &e);
}

TEST(Thread, LifecycleGoesCreatedRunningFinished) {
    event entered, release;
    int result = 0;
    function_thread t([&]() -> void* {
        entered.signal();
        release.wait();
        return &result;
    });
    EXPECT_EQ(t.state(), thread::created);
    t.start();
    entered.wait();
    EXPECT_EQ(t.state(), thread::running);
    release.signal();
    EXPECT_EQ(t.join(), &t);
    EXPECT_EQ(t.state(), thread::finished);
    EXPECT_EQ(t.returnValue(), &result);
    // A second join, on an ended thread, returns at once.
    EXPECT_EQ(t.join(), &t);

    thread base;
    base.start();
    base.start();  // a stray second start is harmless
    EXPECT_EQ(base.join(), &base);
    EXPECT_EQ(base.returnValue(), nullptr);
}

TEST(Thread, NameIsAnIndependentCopy) {
    char name[] = "worker";
    thread named(name);
    std::strcpy(name, "other!");
    EXPECT_STREQ(named.name(), "worker");
    thread unnamed(nullptr);
    EXPECT_STREQ(unnamed.name(), "unknown");
    thread defaulted;
    EXPECT_STREQ(defaulted.name(), "unknown");
}

TEST(Thread, NeverStartedThreadIsDestroyedWithoutRunning) {
    std::atomic<bool> ran{false};
    for (int i = 0; i < 20; ++i) {
        function_thread t([&]() -> void* {
            ran = true;
            return nullptr;
        });
        EXPECT_EQ(t.state(), thread::created);
    }
    // A plain base thread as well: its destructor alone must release the gate.
    for (int i = 0; i < 20; ++i) {
        thread t("parked");
    }
    EXPECT_FALSE(ran.load());
}

TEST(Thread, JoinAfterTheThreadEndedOnItsOwn) {
    function_thread t([]() -> void* { return nullptr; });
    t.start();
    while (t.state() != thread::finished) {
        // waiting for the end without joining is what this test is about
    }
    EXPECT_EQ(t.join(), &t);
    EXPECT_EQ(t.join(), &t);
}

class self_deleting : public thread {
  public:
    self_deleting(event& gone_event, std::atomic<int>& runs)
        : thread("self"), gone(gone_event), run_count(runs) {}
    ~self_deleting() override { gone.signal(); }

  private:
    void* run() override {
        run_count.fetch_add(1);
        return nullptr;
    }
    event& gone;
    std::atomic<int>& run_count;
};

TEST(Thread, DeleteOnExitDestroysItselfOnItsOwnThread) {
    event gone;
    std::atomic<int> runs{0};
    auto* t = new self_deleting(gone, runs);
    t->setDeleteOnExit();
    t->start();
    // The destructor signals; under the address sanitizer a missing delete
    // would show as a leak, a double one as a fault.
    EXPECT_TRUE(gone.timedwait(10000));
    EXPECT_EQ(runs.load(), 1);
}

}  // namespace
