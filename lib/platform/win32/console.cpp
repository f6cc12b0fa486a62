#include "platform/console.h"

#include <string>

#include "platform/win32/native.h"

namespace korvane::platform {

namespace {

HANDLE std_handle(console_stream stream) {
    return ::GetStdHandle(stream == console_stream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool is_console(HANDLE h) {
    DWORD mode = 0;
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
}

void write_bytes(HANDLE h, const char* data, std::size_t size) {
    while (size > 0) {
        DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!::WriteFile(h, data, part, &done, nullptr) || done == 0) {
            return;  // nowhere left to report a broken console
        }
        data += done;
        size -= done;
    }
}

// A console takes the wide text as it is; anything else (a pipe, a file) gets
// UTF-8, so that no character is lost to the ANSI code page.
void write_text(HANDLE h, std::wstring_view text) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE || text.empty()) {
        return;
    }
    if (is_console(h)) {
        while (!text.empty()) {
            DWORD part = text.size() > 16384 ? 16384 : static_cast<DWORD>(text.size());
            DWORD done = 0;
            if (!::WriteConsoleW(h, text.data(), part, &done, nullptr) || done == 0) {
                return;
            }
            text.remove_prefix(done);
        }
        return;
    }
    std::string bytes = win32::to_utf8(text);
    write_bytes(h, bytes.data(), bytes.size());
}

// Standard output is collected here and written in large pieces: a run over a
// million files must not cost a million system calls when output is piped.
struct out_buffer {
    std::wstring text;
    ~out_buffer() { flush(); }
    void flush() {
        if (!text.empty()) {
            write_text(std_handle(console_stream::out), text);
            text.clear();
        }
    }
};

out_buffer& stdout_buffer() {
    static out_buffer buffer;
    return buffer;
}

// Lines end in CR LF on Windows, as the C runtime's text mode would write them.
void append_text(std::wstring& out, std::wstring_view text) {
    out.reserve(out.size() + text.size() + 8);
    for (wchar_t unit : text) {
        if (unit == L'\n') {
            out.push_back(L'\r');
        }
        out.push_back(unit);
    }
}

}  // namespace

void console_write(console_stream stream, std::wstring_view text) {
    out_buffer& out = stdout_buffer();
    if (stream == console_stream::err) {
        out.flush();
        std::wstring converted;
        append_text(converted, text);
        write_text(std_handle(console_stream::err), converted);
        return;
    }
    append_text(out.text, text);
    if (out.text.size() >= 32 * 1024) {
        out.flush();
    }
}

void console_flush() {
    stdout_buffer().flush();
}

bool console_is_terminal(console_stream stream) {
    return is_console(std_handle(stream));
}

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool console_can_erase_line(console_stream stream) {
    // Windows 10 consoles understand ANSI sequences once asked to; older
    // ones refuse the mode, and would show the sequence as text.
    HANDLE h = std_handle(stream);
    DWORD mode = 0;
    if (h == nullptr || h == INVALID_HANDLE_VALUE || ::GetConsoleMode(h, &mode) == 0) {
        return false;
    }
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
        return true;
    }
    return ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int console_columns(console_stream stream) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(std_handle(stream), &info) == 0) {
        return 0;
    }
    return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace korvane::platform
