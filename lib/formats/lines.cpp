#include "formats/lines.h"

#include <algorithm>

#include <cstring>
#include <cwchar>

namespace korvane::detail {

void append_number(std::string& out, std::uint64_t value, int width, char pad) {
    // Built backwards in place and appended at once: a list of millions of
    // entries formats several numbers for each.
    char text[48];
    char* const end = text + sizeof text;
    char* first = end;
    do {
        *--first = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    const int fill = std::min<int>(width, static_cast<int>(sizeof text));
    while (end - first < fill) {
        *--first = pad;
    }
    out.append(first, static_cast<std::size_t>(end - first));
}

namespace {

// Two digits of a value below 100.
void put_two_digits(char* at, int value) {
    at[0] = static_cast<char>('0' + value / 10 % 10);
    at[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

platform::calendar_time utc_from_ticks(std::uint64_t ticks) {
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

bool ticks_from_calendar(const platform::calendar_time& when, std::uint64_t& ticks) {
    static constexpr int month_days[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (when.year % 4 == 0 && when.year % 100 != 0) || when.year % 400 == 0;
    if (when.year < 1601 || when.year > 9999 || when.month < 1 || when.month > 12 || when.day < 1 ||
        when.day > month_days[when.month - 1] || (when.month == 2 && when.day == 29 && !leap) ||
        when.hour < 0 || when.hour > 23 || when.minute < 0 || when.minute > 59 || when.second < 0 ||
        when.second > 59) {
        return false;
    }
    // Days from a civil date (proleptic Gregorian calendar), the inverse of
    // utc_from_ticks.
    const std::int64_t year = when.year - (when.month <= 2 ? 1 : 0);
    const std::int64_t era = year / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy =
        (153 * (when.month + (when.month > 2 ? -3 : 9)) + 2) / 5 + when.day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t days_since_1970 = era * 146097 + doe - 719468;
    const std::int64_t seconds =
        days_since_1970 * 86400 + when.hour * 3600 + when.minute * 60 + when.second + 11644473600LL;
    ticks = static_cast<std::uint64_t>(seconds) * 10000000ULL;
    return true;
}

void append_date(std::string& out, const platform::calendar_time& when) {
    if (when.year < 0 || when.year > 9999) {
        append_number(out, static_cast<std::uint64_t>(when.year), 4);
    } else {
        char year[4] = {' ', ' ', ' ', ' '};
        int value = when.year;
        int at = 3;
        do {
            year[at--] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        out.append(year, sizeof year);
    }
    char text[6] = {'-', '0', '0', '-', '0', '0'};
    put_two_digits(text + 1, when.month);
    put_two_digits(text + 4, when.day);
    out.append(text, sizeof text);
}

void append_time(std::string& out, const platform::calendar_time& when, char before_seconds) {
    char text[8] = {'0', '0', ':', '0', '0', before_seconds, '0', '0'};
    put_two_digits(text, when.hour);
    put_two_digits(text + 3, when.minute);
    put_two_digits(text + 6, when.second);
    out.append(text, sizeof text);
}

void append_file_time(std::string& out, std::uint64_t ticks) {
    // The calendar arithmetic and the digits cost more than the rest of the
    // line; the files of one folder were often written in the same second.
    thread_local std::uint64_t cached_second = ~std::uint64_t{0};
    thread_local std::string cached_text;
    const std::uint64_t second = ticks / 10000000ULL;
    if (second != cached_second) {
        const platform::calendar_time when = utc_from_ticks(ticks);
        cached_text.clear();
        append_time(cached_text, when, '.');
        cached_text += ' ';
        append_date(cached_text, when);
        cached_second = second;
    }
    out += cached_text;
}

std::string header_line(const std::string& maker) {
    platform::calendar_time now = platform::local_time_now();
    std::string line = "; Generated by " + maker + " on ";
    append_date(line, now);
    line += " at ";
    append_time(line, now, ':');
    line += "\r\n";
    return line;
}

bool is_line_safe(const char* text) {
    return std::strchr(text, '\n') == nullptr;
}

void copy_fitting(const wchar_t* text, int length, wchar_t* out, int room) {
    if (out == nullptr || room <= 0) {
        return;
    }
    const int shown = length < room ? length : room - 1;
    std::wmemcpy(out, text, static_cast<std::size_t>(shown));
    out[shown] = L'\0';
}

}  // namespace korvane::detail
