#include <korvane/cmdline.h>

#include <cstring>
#include <cwchar>
#include <new>

namespace {

// Each side of a split holds at most this many units; longer elements stay whole.
constexpr std::size_t max_side = 510;

bool is_blank(wchar_t c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }

wchar_t* copy_text(const wchar_t* begin, std::size_t length) {
    auto* text = new (std::nothrow) wchar_t[length + 1];
    if (text == nullptr) {
        return nullptr;
    }
    if (length > 0) {
        std::wmemcpy(text, begin, length);
    }
    text[length] = L'\0';
    return text;
}

}  // namespace

cmdline::arg::arg(const wchar_t* name_text, const wchar_t* value_text) {
    name = copy_text(name_text, std::wcslen(name_text));
    if (value_text != nullptr) {
        value = copy_text(value_text, std::wcslen(value_text));
    }
}

cmdline::arg::~arg() {
    delete[] name;
    delete[] value;
    // Free the chain behind this record iteratively: a recursive release of a
    // very long command line could exhaust the stack.
    arg* rest = next;
    next = nullptr;
    while (rest != nullptr) {
        arg* following = rest->next;
        rest->next = nullptr;
        delete rest;
        rest = following;
    }
}

cmdline::cmdline(int argc, wchar_t** argv) {
    arg** link = &first;
    for (int i = 1; i < argc; ++i) {
        const wchar_t* element = argv[i];
        const wchar_t* equals = std::wcschr(element, L'=');
        arg* record = nullptr;
        std::size_t n = equals ? static_cast<std::size_t>(equals - element) : 0;
        std::size_t v = equals ? std::wcslen(equals + 1) : 0;
        if (equals == nullptr || n > max_side || v > max_side) {
            record = new (std::nothrow) arg(element, nullptr);
        } else {
            // Name: trailing blanks removed. Value: leading blanks removed, then
            // one pair of matching quotes stripped.
            std::size_t name_end = n;
            while (name_end > 0 && is_blank(element[name_end - 1])) {
                --name_end;
            }
            const wchar_t* value_begin = equals + 1;
            const wchar_t* value_end = equals + 1 + v;
            while (value_begin < value_end && is_blank(*value_begin)) {
                ++value_begin;
            }
            if (value_begin < value_end && (*value_begin == L'\'' || *value_begin == L'"') &&
                value_end[-1] == *value_begin) {
                ++value_begin;
                if (value_begin < value_end) {
                    --value_end;
                }
            }
            wchar_t name_buffer[max_side + 1];
            wchar_t value_buffer[max_side + 1];
            std::wmemcpy(name_buffer, element, name_end);
            name_buffer[name_end] = L'\0';
            auto value_length = static_cast<std::size_t>(value_end - value_begin);
            std::wmemcpy(value_buffer, value_begin, value_length);
            value_buffer[value_length] = L'\0';
            record = new (std::nothrow) arg(name_buffer, value_buffer);
        }
        if (record == nullptr || record->name == nullptr ||
            (equals != nullptr && n <= max_side && v <= max_side && record->value == nullptr)) {
            // Out of memory: the list ends here rather than holding a hole.
            delete record;
            break;
        }
        *link = record;
        link = &record->next;
    }
}

cmdline::~cmdline() { delete first; }

cmdline::arg* cmdline::get_next_arg(arg* previous) const {
    return previous == nullptr ? first : previous->next;
}
