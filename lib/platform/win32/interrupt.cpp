#include "platform/interrupt.h"

#include <atomic>
#include <csignal>

#include "platform/win32/native.h"

namespace korvane::platform {

namespace {

// Ctrl-C and Ctrl-Break reach the program as the C runtime's signals (its
// console handler raises them), so they are held back the same way as on
// POSIX.
constexpr int deferred_signals[] = {SIGINT, SIGTERM, SIGBREAK};
constexpr int signal_count = sizeof deferred_signals / sizeof deferred_signals[0];

volatile std::sig_atomic_t pending_signal = 0;
void (*previous[signal_count])(int);
std::atomic<int> depth{0};       // only the main thread defers, but nesting is allowed
HANDLE deferral_over = nullptr;  // set while nothing is deferred

extern "C" void remember(int signal_number) {
    pending_signal = signal_number;
    std::signal(signal_number, remember);  // the runtime resets a handler before calling it
}

// Closing the console, logging off or shutting down ends the process as soon
// as the handlers return: let the rewrite finish first, within the few
// seconds Windows grants. Everything else is left to the next handler.
BOOL WINAPI console_request(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && depth.load() != 0 &&
        deferral_over != nullptr) {
        ::WaitForSingleObject(deferral_over, 4000);
    }
    return FALSE;
}

}  // namespace

interrupt_deferral::interrupt_deferral() {
    if (depth.fetch_add(1) != 0) {
        return;
    }
    if (deferral_over == nullptr) {
        deferral_over = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    if (deferral_over != nullptr) {
        ::ResetEvent(deferral_over);
    }
    pending_signal = 0;
    for (int i = 0; i < signal_count; ++i) {
        previous[i] = std::signal(deferred_signals[i], remember);
    }
    ::SetConsoleCtrlHandler(console_request, TRUE);
}

interrupt_deferral::~interrupt_deferral() {
    if (depth.fetch_sub(1) != 1) {
        return;
    }
    ::SetConsoleCtrlHandler(console_request, FALSE);
    if (deferral_over != nullptr) {
        ::SetEvent(deferral_over);
    }
    for (int i = 0; i < signal_count; ++i) {
        if (previous[i] != SIG_ERR) {
            std::signal(deferred_signals[i], previous[i]);
        }
    }
    if (int signal_number = pending_signal; signal_number != 0) {
        pending_signal = 0;
        std::raise(signal_number);  // the process ends as it would have
    }
}

}  // namespace korvane::platform
