#include "platform/clock.h"

#include <time.h>

#include "platform/posix/native.h"

namespace korvane::platform {

std::uint64_t system_time_ticks() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return posix::ticks_from_timespec(now);
}

calendar_time local_time_now() {
    time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

}  // namespace korvane::platform
