#include "platform/interrupt.h"

#include <gtest/gtest.h>

#include <csignal>

namespace {

volatile std::sig_atomic_t delivered = 0;
extern "C" void count_delivery(int) {
    delivered = delivered + 1;
}

TEST(InterruptDeferral, AnInterruptArrivesOnlyAfterTheGuardedWork) {
    auto* old = std::signal(SIGINT, count_delivery);
    delivered = 0;
    {
        korvane::platform::interrupt_deferral outer;
        {
            korvane::platform::interrupt_deferral nested;
            std::raise(SIGINT);
            EXPECT_EQ(delivered, 0);
        }
        EXPECT_EQ(delivered, 0) << "still inside the outer guard";
    }
    EXPECT_EQ(delivered, 1);
    { korvane::platform::interrupt_deferral quiet; }
    EXPECT_EQ(delivered, 1) << "nothing pending, nothing delivered";
    std::signal(SIGINT, old);
}

}  // namespace
