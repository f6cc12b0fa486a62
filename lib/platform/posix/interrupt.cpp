#include "platform/interrupt.h"

#include <signal.h>

#include <atomic>

namespace korvane::platform {

namespace {

// Every signal whose default action ends the process, so that none of them
// can cut a rewrite short or leave a temporary file behind: SIGXFSZ too (with
// its default action a write past the file-size limit would end the process
// before it can remove its temporary file), SIGIO (also the notice that
// another process waits for a list korvane keeps writers out of) and the
// real-time signals. Left alone: the faults the code itself causes (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS), whose handler could only
// run the faulting code again, and SIGKILL and SIGSTOP, which cannot be taken.
constexpr int fixed_signals[] = {
    SIGINT,    SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,   SIGALRM,
    SIGUSR1,   SIGUSR2, SIGXFSZ, SIGXCPU, SIGVTALRM, SIGPROF,
#ifdef SIGIO
    SIGIO,
#endif
#if defined(SIGPOLL) && (!defined(SIGIO) || SIGPOLL != SIGIO)
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGLOST
    SIGLOST,
#endif
};
constexpr int fixed_count = sizeof fixed_signals / sizeof fixed_signals[0];
#ifdef SIGRTMIN
constexpr int most_real_time = 64;  // more than any system has
#else
constexpr int most_real_time = 0;
#endif
constexpr int most_signals = fixed_count + most_real_time;

// Atomic rather than volatile: the mark is set by a handler and read by the
// thread that holds the signals back, which need not be the same one.
std::atomic<int> pending_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a handler may only touch lock-free atomics");
int deferred[most_signals];
struct sigaction previous[most_signals];
int deferred_count = 0;
std::atomic<int> depth{0};  // only the main thread defers, but nesting is allowed

extern "C" void remember(int signal_number, siginfo_t* info, void*) {
#ifdef SIGIO
    // The kernel's I/O notice (a lease break) asks for no end: the lease goes
    // when the rewrite is done. A SIGIO sent by a process (si_code <= 0) does.
    if (signal_number == SIGIO && info != nullptr && info->si_code > 0) {
        return;
    }
#else
    (void)info;
#endif
    pending_signal.store(signal_number);
}

// The signals to defer, fixed and real-time.
int collect_signals(int* out) {
    int count = 0;
    for (int signal_number : fixed_signals) {
        out[count++] = signal_number;
    }
#ifdef SIGRTMIN
    // SIGRTMIN and SIGRTMAX leave out those the C library keeps for itself.
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX && count < most_signals;
         ++signal_number) {
        out[count++] = signal_number;
    }
#endif
    return count;
}

}  // namespace

interrupt_deferral::interrupt_deferral() {
    if (depth.fetch_add(1) != 0) {
        return;
    }
    pending_signal.store(0);
    deferred_count = collect_signals(deferred);
    struct sigaction action {};
    action.sa_sigaction = remember;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_SIGINFO;  // the writes in progress simply go on
    for (int i = 0; i < deferred_count; ++i) {
        ::sigaction(deferred[i], &action, &previous[i]);
    }
}

interrupt_deferral::~interrupt_deferral() {
    if (depth.fetch_sub(1) != 1) {
        return;
    }
    for (int i = 0; i < deferred_count; ++i) {
        ::sigaction(deferred[i], &previous[i], nullptr);
    }
    if (int signal_number = pending_signal.exchange(0); signal_number != 0) {
        ::raise(signal_number);
    }
}

}  // namespace korvane::platform
