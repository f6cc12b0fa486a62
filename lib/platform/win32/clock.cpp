#include "platform/clock.h"

#include "platform/win32/native.h"

namespace korvane::platform {

std::uint64_t system_time_ticks() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return win32::ticks(now);
}

calendar_time local_time_now() {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

}  // namespace korvane::platform
