// Time.
#ifndef KORVANE_PLATFORM_CLOCK_H
#define KORVANE_PLATFORM_CLOCK_H

#include <cstdint>

namespace korvane::platform {

// Now, in 100-ns ticks since 1601-01-01 UTC.
std::uint64_t system_time_ticks();

struct calendar_time {
    int year, month, day, hour, minute, second;  // month 1..12
};

// The local calendar time now.
calendar_time local_time_now();

}  // namespace korvane::platform

#endif
