#include "output.h"

#include <korvane/status.h>

#include <cerrno>

#include "platform/console.h"

namespace korvane::app {

namespace platform = korvane::platform;

std::wstring format(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    std::wstring out;
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
            if (const auto* text = std::get_if<const wchar_t*>(&*next)) {
                out.append(*text != nullptr ? *text : L"(null)");
            } else {
                out.append(std::to_wstring(std::get<int>(*next)));
            }
            ++next;
        } else if (*p == L'\0') {
            break;
        }
    }
    return out;
}

namespace {
bool stdout_is_terminal() {
    static const bool terminal = platform::console_is_terminal(platform::console_stream::out);
    return terminal;
}
}  // namespace

void print(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    platform::console_write(platform::console_stream::out, format(pattern, args));
    if (stdout_is_terminal()) {
        platform::console_flush();
    }
}

void print_now(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    platform::console_write(platform::console_stream::out, format(pattern, args));
    platform::console_flush();
}

void print_error(const wchar_t* pattern, std::initializer_list<format_arg> args) {
    platform::console_write(platform::console_stream::err, format(pattern, args));
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

void forget_failure_cause() {
    (void)status_cause(korvane_status::ok, nullptr);
}

}  // namespace korvane::app
