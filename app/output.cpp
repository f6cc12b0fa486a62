#include "output.h"

#include <korvane/status.h>

#include <cerrno>
#include <cstdint>

#include "platform/console.h"
#include "platform/text.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

// A control character in a name could move the cursor, erase or hide lines,
// or fake a whole line of output. C1 controls count too: on POSIX the units
// are bytes, so those are the UTF-8 forms of U+0080..U+009F.
constexpr bool units_are_bytes = !platform::wide_units_are_utf16;

bool is_c1_lead(const wchar_t* p) {
    return units_are_bytes && p[0] == 0xC2 && p[1] >= 0x80 && p[1] <= 0x9F;
}

bool is_control(wchar_t unit) {
    return unit < 0x20 || unit == 0x7F || (!units_are_bytes && unit >= 0x80 && unit <= 0x9F);
}

bool needs_escape(const wchar_t* text) {
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (is_control(*p) || is_c1_lead(p)) {
            return true;
        }
    }
    return false;
}

// Every unit escaped this way is below 0x100: two digits.
void append_hex_escape(std::wstring& out, wchar_t unit) {
    wchar_t digits[8];
    platform::encode_hex32(static_cast<std::uint32_t>(unit), digits, platform::hex_case::lower);
    out.append(L"\\x");
    out.append(digits + 6, 2);
}

// The escapes that checksum lists use for such names (a backslash, line feed
// and carriage return), a tab's, and a hexadecimal one for every other control.
const wchar_t* named_escape(wchar_t unit) {
    switch (unit) {
        case L'\\':
            return L"\\\\";
        case L'\n':
            return L"\\n";
        case L'\r':
            return L"\\r";
        case L'\t':
            return L"\\t";
        default:
            return nullptr;
    }
}

void append_escaped(std::wstring& out, const wchar_t* text) {
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        if (const wchar_t* named = named_escape(*p)) {
            out.append(named);
        } else if (is_c1_lead(p)) {
            append_hex_escape(out, p[0]);
            append_hex_escape(out, *++p);
        } else if (is_control(*p)) {
            append_hex_escape(out, *p);
        } else {
            out.push_back(*p);
        }
    }
}

}  // namespace

namespace {

void append_arg(std::wstring& out, const format_arg& arg, bool escaped) {
    if (const auto* text = std::get_if<const wchar_t*>(&arg)) {
        const wchar_t* shown = *text != nullptr ? *text : L"(null)";
        if (escaped) {
            append_escaped(out, shown);
        } else {
            out.append(shown);
        }
    } else {
        out.append(std::to_wstring(std::get<int>(arg)));
    }
}

}  // namespace

namespace {

// The text of `pattern` with its arguments; with `may_escape`, a line that
// shows a name with control characters starts with a backslash and shows
// every text in it escaped, so that it can neither forge nor hide output and
// still reads back unambiguously.
std::wstring format_text(const wchar_t* pattern, std::initializer_list<format_arg> args,
                         bool may_escape) {
    bool escaped = false;
    for (const format_arg& arg : args) {
        const auto* text = std::get_if<const wchar_t*>(&arg);
        escaped =
            escaped || (may_escape && text != nullptr && *text != nullptr && needs_escape(*text));
    }
    std::wstring out;
    if (escaped) {
        out.push_back(L'\\');
    }
    auto next = args.begin();
    for (const wchar_t* p = pattern; *p != L'\0'; ++p) {
        if (*p != L'%') {
            out.push_back(*p);
            continue;
        }
        ++p;
        if (*p == L'%') {
            out.push_back(L'%');
        } else if ((*p == L's' || *p == L'd') && next != args.end()) {
            append_arg(out, *next, escaped);
            ++next;
        } else if (*p == L'\0') {
            break;
        }
    }
    return out;
}

}  // namespace

std::wstring format(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    return format_text(pattern, args, true);
}

namespace {
// -z: records on standard output end in NUL and show names as they are.
bool nul_records = false;

bool stdout_is_terminal() {
    static const bool terminal = platform::console_is_terminal(platform::console_stream::out);
    return terminal;
}
}  // namespace

namespace {

constexpr const wchar_t* erase_line = L"\r\x1b[K";

// The progress line: its text, whether it stands on the screen now, and
// whether the last text written left its line open (then the line waits).
struct status_line_state {
    std::wstring text;
    bool shown = false;
    bool line_open = false;
};
status_line_state status_line;

bool status_line_shown() {
    return status_line.shown;
}

void write_out(std::wstring_view text) {
    platform::console_write(platform::console_stream::out, text);
    if (!text.empty()) {
        status_line.line_open = text.back() != L'\n';
    }
}

// Drawn over the old one: the text, then the rest of the line erased, so
// that nothing blinks.
void redraw_status_line() {
    if (status_line.line_open || status_line.text.empty()) {
        return;
    }
    std::wstring out = L"\r";
    out += status_line.text;
    out += L"\x1b[K";
    platform::console_write(platform::console_stream::out, out);
    platform::console_flush();
    status_line.shown = true;
}

void write_around_status_line(const std::wstring& text) {
    std::wstring out = erase_line;
    out += text;
    if (!text.empty()) {
        status_line.line_open = text.back() != L'\n';
    }
    if (!status_line.line_open) {
        out += status_line.text;
    }
    platform::console_write(platform::console_stream::out, out);
    platform::console_flush();
    status_line.shown = !status_line.line_open;
}

}  // namespace

void end_records_with_nul(bool on) {
    nul_records = on;
}

void print(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    if (nul_records) {
        // Names go out as they are: NUL is the one unit no name holds.
        std::wstring out = format_text(pattern, args, false);
        if (!out.empty() && out.back() == L'\n') {
            out.back() = L'\0';
        }
        platform::console_write(platform::console_stream::out, out);
        return;
    }
    if (status_line_shown()) {
        write_around_status_line(format(pattern, args));
        return;
    }
    write_out(format(pattern, args));
    if (stdout_is_terminal()) {
        platform::console_flush();
    }
}

void print_now(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    if (status_line_shown()) {
        write_around_status_line(format(pattern, args));
        return;
    }
    write_out(format(pattern, args));
    platform::console_flush();
}

void print_error(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    const std::wstring text = format(pattern, args);
    const bool shown = status_line_shown();
    if (shown) {
        platform::console_write(platform::console_stream::out, erase_line);
    }
    platform::console_write(platform::console_stream::err, text);  // flushes the erasing first
    if (!text.empty()) {
        status_line.line_open = text.back() != L'\n';
    }
    if (shown) {
        status_line.shown = false;
        redraw_status_line();
    }
}

void show_status_line(const std::wstring& text) {
    status_line.text = text;
    redraw_status_line();
}

void clear_status_line() {
    if (status_line.shown) {
        platform::console_write(platform::console_stream::out, erase_line);
        platform::console_flush();
    }
    status_line.shown = false;
    status_line.text.clear();
}

std::wstring calendar_text(const platform::calendar_time& when, wchar_t between,
                           const wchar_t* after) {
    std::wstring text = std::to_wstring(when.year);
    const auto two_digits = [&text](int value, wchar_t next) {
        text += static_cast<wchar_t>(L'0' + value / 10 % 10);
        text += static_cast<wchar_t>(L'0' + value % 10);
        text += next;
    };
    text += L'-';
    two_digits(when.month, L'-');
    two_digits(when.day, between);
    two_digits(when.hour, L':');
    two_digits(when.minute, L':');
    text += static_cast<wchar_t>(L'0' + when.second / 10 % 10);
    text += static_cast<wchar_t>(L'0' + when.second % 10);
    return text + after;
}

const wchar_t* status_message(status code) {
    switch (code) {
        case status::ok:
            return L"Ok";
        case status::file_not_open:
            return L"File not open";
        case status::file_read_error:
            return L"File read error";
        case status::file_not_found:
            return L"File not found";
        case status::access_denied:
            return L"Access denied";
        case status::invalid_line:
            return L"Invalid line";
        case status::file_exists:
            return L"File already exists";
        case status::invalid_arguments:
            return L"Invalid arguments";
        case status::path_error:
            return L"Path error";
        case status::outside_signed_text:
            return L"Outside the signed text";
        case status::list_changed:
            return L"Changed during the update, not written";
        case status::utf16_list:
            return L"UTF-16 list";
        case status::unknown_error:
            break;
    }
    return L"Unknown error";
}

const wchar_t* status_message(int code) {
    return status_message(from_int(code));
}

namespace {
// The words for the error numbers whose own text says more than the status.
const wchar_t* error_text(int error, bool writing, status code) {
    switch (error) {
        case ENOSPC:
            return L"No space left on device";
#ifdef EDQUOT
        case EDQUOT:
            return L"Disk quota exceeded";
#endif
        case EFBIG:
            return L"File too large";
        case EROFS:
            return L"Read-only file system";
        case ENAMETOOLONG:
            return L"File name too long";
        case EMFILE:
        case ENFILE:
            return L"Too many open files";
        case EIO:
            return writing ? L"File write error" : L"File read error";
        default:
            // What failed without a status of its own while the file was
            // written out is a write error, not an unknown one.
            return writing && code == status::unknown_error ? L"File write error" : nullptr;
    }
}
}  // namespace

const wchar_t* failure_message(status code) {
    int writing = 0;
    const int error = status_cause(to_int(code), &writing);
    const wchar_t* text = error != 0 ? error_text(error, writing != 0, code) : nullptr;
    return text != nullptr ? text : status_message(code);
}

const wchar_t* write_failure_message(int error, status code) {
    const wchar_t* text = error > 0 ? error_text(error, true, code) : nullptr;
    return text != nullptr ? text : status_message(code);
}

void forget_failure_cause() {
    (void)status_cause(korvane_status::ok, nullptr);
}

}  // namespace korvane::app
