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

bool local_time_of(std::uint64_t ticks, calendar_time& out) {
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFULL);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    SYSTEMTIME universal;
    SYSTEMTIME local;
    // The zone's rules for that moment, as the C runtime's localtime applies them.
    if (::FileTimeToSystemTime(&utc, &universal) == 0 ||
        ::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local) == 0) {
        return false;
    }
    out = {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
    return true;
}

}  // namespace korvane::platform
