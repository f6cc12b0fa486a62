#include "output.h"

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

const wchar_t* status_message(int code) {
    switch (code) {
        case 0:
            return L"Ok";
        case -2:
            return L"File not open";
        case -3:
            return L"File read error";
        case -4:
            return L"File not found";
        case -5:
            return L"Access denied";
        case -6:
            return L"Invalid line";
        case -7:
            return L"File already exists";
        case -8:
            return L"Invalid arguments";
        case -9:
            return L"Path error";
        default:
            return L"Unknown error";
    }
}

}  // namespace korvane::app
