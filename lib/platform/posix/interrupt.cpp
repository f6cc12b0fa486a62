#include "platform/interrupt.h"

#include <signal.h>

#include <atomic>

namespace korvane::platform {

namespace {

// SIGXFSZ too: with its default action a write past the file-size limit would
// end the process before it can remove its temporary file.
constexpr int deferred_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXFSZ};
constexpr int signal_count = sizeof deferred_signals / sizeof deferred_signals[0];

volatile sig_atomic_t pending_signal = 0;
struct sigaction previous[signal_count];
std::atomic<int> depth{0};  // only the main thread defers, but nesting is allowed

extern "C" void remember(int signal_number) {
    pending_signal = signal_number;
}

}  // namespace

interrupt_deferral::interrupt_deferral() {
    if (depth.fetch_add(1) != 0) {
        return;
    }
    pending_signal = 0;
    struct sigaction action {};
    action.sa_handler = remember;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;  // the writes in progress simply go on
    for (int i = 0; i < signal_count; ++i) {
        ::sigaction(deferred_signals[i], &action, &previous[i]);
    }
}

interrupt_deferral::~interrupt_deferral() {
    if (depth.fetch_sub(1) != 1) {
        return;
    }
    for (int i = 0; i < signal_count; ++i) {
        ::sigaction(deferred_signals[i], &previous[i], nullptr);
    }
    if (int signal_number = pending_signal; signal_number != 0) {
        pending_signal = 0;
        ::raise(signal_number);
    }
}

}  // namespace korvane::platform
