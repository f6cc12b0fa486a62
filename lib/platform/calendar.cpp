// Calendar arithmetic that needs nothing of the OS.
#include <cstdint>

#include "platform/clock.h"

namespace korvane::platform {

calendar_time utc_time_of(std::uint64_t ticks) {
    // Seconds relative to 1970, negative before it (time 0 is 1601-01-01).
    std::int64_t seconds =
        static_cast<std::int64_t>(ticks / 10000000ULL) - static_cast<std::int64_t>(11644473600LL);
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Civil date from a day count (proleptic Gregorian calendar).
    std::int64_t z = days + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int>(year),
            static_cast<int>(month),
            static_cast<int>(day),
            static_cast<int>(rest / 3600),
            static_cast<int>(rest / 60 % 60),
            static_cast<int>(rest % 60)};
}

}  // namespace korvane::platform
