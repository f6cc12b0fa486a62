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

// The UTC calendar time (to the second) of 100-ns ticks since 1601-01-01.
calendar_time utc_time_of(std::uint64_t ticks);

// The local calendar time (to the second) of 100-ns ticks since 1601-01-01
// UTC, by the zone's rules for that moment; false when the system cannot say.
bool local_time_of(std::uint64_t ticks, calendar_time& out);

}  // namespace korvane::platform

#endif
