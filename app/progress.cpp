#include "progress.h"

#include <algorithm>

#include "output.h"
#include "platform/text.h"

namespace korvane::app {

namespace platform = korvane::platform;

std::wstring count_text(std::uint64_t count) {
    const std::wstring digits = std::to_wstring(count);
    std::wstring out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out.push_back(L',');
        }
        out.push_back(digits[i]);
    }
    return out;
}

std::wstring bytes_text(std::uint64_t bytes) {
    if (bytes < 1024) {
        return std::to_wstring(bytes) + L" B";
    }
    static const wchar_t* const units[] = {L"KiB", L"MiB", L"GiB", L"TiB", L"PiB", L"EiB"};
    std::size_t unit = 0;
    // Tenths of the unit, rounded, so that 1023.96 KiB reads "1.0 MiB".
    std::uint64_t scale = 1024;
    while (unit + 1 < std::size(units) && bytes / scale >= 1024) {
        scale *= 1024;
        ++unit;
    }
    const std::uint64_t tenths = (bytes / (scale / 1024) * 10 + 512) / 1024;
    if (tenths >= 10240 && unit + 1 < std::size(units)) {
        return L"1.0 " + std::wstring(units[unit + 1]);
    }
    if (tenths < 100) {
        return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10) + L" " +
               units[unit];
    }
    return std::to_wstring((tenths + 5) / 10) + L" " + units[unit];
}

std::wstring duration_text(std::uint64_t seconds) {
    const std::uint64_t hours = seconds / 3600;
    const std::uint64_t minutes = seconds / 60 % 60;
    const std::uint64_t rest = seconds % 60;
    const auto two = [](std::uint64_t value) {
        return std::wstring(1, static_cast<wchar_t>(L'0' + value / 10)) +
               static_cast<wchar_t>(L'0' + value % 10);
    };
    if (hours > 0) {
        return std::to_wstring(hours) + L":" + two(minutes) + L":" + two(rest);
    }
    return std::to_wstring(minutes) + L":" + two(rest);
}

namespace {

constexpr bool units_are_bytes = !platform::wide_units_are_utf16;

// Where a character ends that starts at `i`.
std::size_t character_end(std::wstring_view text, std::size_t i) {
    const auto unit = static_cast<std::uint32_t>(text[i]);
    std::size_t end = i + 1;
    if (units_are_bytes && unit >= 0xC0) {
        while (end < text.size() && (static_cast<std::uint32_t>(text[end]) & 0xC0) == 0x80) {
            ++end;
        }
    } else if (!units_are_bytes && unit >= 0xD800 && unit <= 0xDBFF && end < text.size()) {
        ++end;
    }
    return end;
}

std::size_t unit_columns(wchar_t unit) {
    // A UTF-8 byte is at least a third of a column's worth already; a UTF-16
    // unit from U+1100 on may be a double-width character.
    return !units_are_bytes && static_cast<std::uint32_t>(unit) >= 0x1100 ? 2 : 1;
}

}  // namespace

std::size_t columns_of(std::wstring_view text) {
    std::size_t columns = 0;
    for (wchar_t unit : text) {
        columns += unit_columns(unit);
    }
    return columns;
}

std::wstring shorten_middle(std::wstring_view text, std::size_t columns) {
    if (columns_of(text) <= columns) {
        return std::wstring(text);
    }
    if (columns < 5) {
        return std::wstring(L"...").substr(0, columns);
    }
    const std::size_t room = columns - 3;
    const std::size_t head_room = (room + 1) / 2;
    std::size_t head = 0;
    std::size_t used = 0;
    while (head < text.size()) {
        const std::size_t end = character_end(text, head);
        const std::size_t width = columns_of(text.substr(head, end - head));
        if (used + width > head_room) {
            break;
        }
        used += width;
        head = end;
    }
    // The tail: whole characters from the end while they fit.
    std::size_t tail = text.size();
    std::size_t tail_used = 0;
    for (std::size_t start = text.size(); start > head;) {
        std::size_t begin = start - 1;
        while (units_are_bytes && begin > head &&
               (static_cast<std::uint32_t>(text[begin]) & 0xC0) == 0x80) {
            --begin;
        }
        if (!units_are_bytes && begin > head && static_cast<std::uint32_t>(text[begin]) >= 0xDC00 &&
            static_cast<std::uint32_t>(text[begin]) <= 0xDFFF) {
            --begin;
        }
        const std::size_t width = columns_of(text.substr(begin, start - begin));
        if (used + tail_used + width > room) {
            break;
        }
        tail_used += width;
        tail = begin;
        start = begin;
    }
    return std::wstring(text.substr(0, head)) + L"..." + std::wstring(text.substr(tail));
}

namespace {

std::wstring fixed_part(const progress_figures& f) {
    std::wstring line = count_text(f.files_done) + L" of " + count_text(f.files_total) +
                        (f.files_final ? L"" : L"+") + L" files  " + bytes_text(f.bytes_done);
    if (f.bytes_known) {
        std::wstring total = bytes_text(f.bytes_total);
        if (!f.files_final) {
            total.insert(total.find(L' '), L"+");  // "3.4+ GiB": more may come
        }
        line += L" of " + total;
    }
    if (f.rate > 0) {
        line += L"  " + bytes_text(f.rate) + L"/s";
    }
    if (f.time_known) {
        line += L"  " + duration_text(f.seconds_left) + L" left";
    }
    return line;
}

}  // namespace

std::wstring progress_text(const progress_figures& figures, std::size_t columns) {
    std::wstring line = fixed_part(figures);
    if (figures.current != nullptr) {
        // Escaped as every line escapes a name, so that it cannot move the cursor.
        const std::wstring name = format(L"%s", {figures.current});
        const std::wstring percent =
            figures.percent >= 0 ? L" " + std::to_wstring(figures.percent) + L"%" : L"";
        const std::size_t used = columns_of(line) + 2 + percent.size();
        // A name shorter than a few characters says nothing: left out.
        if (used + 8 <= columns) {
            line += L"  " + shorten_middle(name, columns - used) + percent;
        }
    }
    if (line.size() > columns) {
        line.resize(columns);  // only the plain ASCII figures remain here
    }
    return line;
}

void progress_meter::files_counted(std::uint64_t files, std::uint64_t bytes, bool bytes_known) {
    files_total_ += files;
    bytes_total_ += bytes;
    sizes_known_ = sizes_known_ && bytes_known;
}

void progress_meter::file_done(std::uint64_t bytes) {
    ++files_done_;
    bytes_done_ += bytes;
    file_started();
}

std::uint64_t progress_meter::in_progress() const {
    if (!current_known_ || current_percent_ <= 0) {
        return 0;
    }
    return current_size_ / 100 * static_cast<std::uint64_t>(current_percent_);
}

progress_figures progress_meter::figures(std::uint64_t now_ms) {
    progress_figures f;
    f.files_done = files_done_;
    f.files_total = std::max(files_total_, files_done_);
    f.files_final = final_;
    f.bytes_done = bytes_done_ + in_progress();
    f.bytes_known = sizes_known_ && files_total_ > 0;
    f.bytes_total = std::max(bytes_total_, f.bytes_done);
    f.percent = current_percent_;
    const sample oldest = ring_[taken_ < samples ? 0 : taken_ % samples];
    ring_[taken_ % samples] = {now_ms, f.bytes_done, f.files_done};
    ++taken_;
    const std::uint64_t span = now_ms - oldest.ms;
    if (taken_ < 2 || span < 500) {
        return f;  // too soon to say
    }
    f.rate = (f.bytes_done - oldest.bytes) * 1000 / span;
    if (!final_) {
        return f;
    }
    if (f.bytes_known && f.rate > 0) {
        f.seconds_left = (f.bytes_total - f.bytes_done + f.rate - 1) / f.rate;
        f.time_known = true;
    } else if (f.files_done > oldest.files) {
        const std::uint64_t left = f.files_total - f.files_done;
        f.seconds_left = (left * span / (f.files_done - oldest.files) + 999) / 1000;
        f.time_known = true;
    }
    return f;
}

}  // namespace korvane::app
