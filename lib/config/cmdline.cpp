#include <korvane/cmdline.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "platform/text.h"

namespace {

// Each side of a split holds at most this many units; longer elements stay whole.
constexpr std::size_t max_side = 510;

using korvane::platform::is_ascii_space;

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

namespace {

// Name: trailing blanks removed.
std::size_t trimmed_name_length(const wchar_t* element, std::size_t length) {
    while (length > 0 && is_ascii_space(element[length - 1])) {
        --length;
    }
    return length;
}

// Value: leading blanks removed, then one pair of matching quotes stripped.
void trim_value(const wchar_t*& begin, const wchar_t*& end) {
    while (begin < end && is_ascii_space(*begin)) {
        ++begin;
    }
    if (begin < end && (*begin == L'\'' || *begin == L'"') && end[-1] == *begin) {
        ++begin;
        if (begin < end) {
            --end;
        }
    }
}

// The record for an element split at `equals`, whose sides are `name_length`
// and `value_length` units (neither above max_side).
cmdline::arg* split_arg(const wchar_t* element, const wchar_t* equals, std::size_t name_length,
                        std::size_t value_length) {
    const std::size_t name_end = trimmed_name_length(element, name_length);
    const wchar_t* value_begin = equals + 1;
    const wchar_t* value_end = equals + 1 + value_length;
    trim_value(value_begin, value_end);

    wchar_t name_buffer[max_side + 1];
    wchar_t value_buffer[max_side + 1];
    std::wmemcpy(name_buffer, element, name_end);
    name_buffer[name_end] = L'\0';
    auto trimmed_value_length = static_cast<std::size_t>(value_end - value_begin);
    std::wmemcpy(value_buffer, value_begin, trimmed_value_length);
    value_buffer[trimmed_value_length] = L'\0';
    auto* record = new (std::nothrow) cmdline::arg(name_buffer, value_buffer);
    if (record != nullptr && record->value == nullptr) {
        delete record;  // out of memory for the value
        return nullptr;
    }
    return record;
}

// The record for one element of argv: split at its first '=' when both sides
// fit, whole otherwise. Null when memory ran out.
cmdline::arg* make_arg(const wchar_t* element) {
    const wchar_t* equals = std::wcschr(element, L'=');
    std::size_t n = equals ? static_cast<std::size_t>(equals - element) : 0;
    std::size_t v = equals ? std::wcslen(equals + 1) : 0;
    cmdline::arg* record = nullptr;
    if (equals == nullptr || n > max_side || v > max_side) {
        record = new (std::nothrow) cmdline::arg(element, nullptr);
    } else {
        record = split_arg(element, equals, n, v);
    }
    if (record != nullptr && record->name == nullptr) {
        delete record;  // out of memory for the name
        return nullptr;
    }
    return record;
}

}  // namespace

cmdline::cmdline(int argc, wchar_t** argv) {
    arg* last = nullptr;
    for (int i = 1; i < argc; ++i) {
        arg* record = make_arg(argv[i]);
        if (record == nullptr) {
            // Out of memory: the list ends here rather than holding a hole.
            break;
        }
        if (last == nullptr) {
            first.reset(record);
        } else {
            last->next = record;
        }
        last = record;
    }
}

cmdline::~cmdline() = default;

cmdline::arg* cmdline::get_next_arg(arg* previous) const {
    return previous == nullptr ? first.get() : previous->next;
}
