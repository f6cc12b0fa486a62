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

bool local_time_of(std::uint64_t ticks, calendar_time& out) {
    constexpr std::int64_t unix_epoch_seconds = 11644473600LL;  // 1601 to 1970
    const std::int64_t seconds =
        static_cast<std::int64_t>(ticks / 10000000ULL) - unix_epoch_seconds;
    const auto when = static_cast<time_t>(seconds);
    if (static_cast<std::int64_t>(when) != seconds) {
        return false;
    }
    struct tm local {};
    if (::localtime_r(&when, &local) == nullptr) {
        return false;
    }
    out = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
           local.tm_hour,        local.tm_min,     local.tm_sec};
    return true;
}

}  // namespace korvane::platform
