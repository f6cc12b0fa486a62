#include "platform/console.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace korvane::platform {

namespace {

// Standard output is collected here and written in large pieces: a run over a
// million files must not cost a million system calls when output is piped.
struct out_buffer {
    std::string bytes;
    ~out_buffer() { flush(); }
    void flush();
};

void write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // nowhere left to report a broken console
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void out_buffer::flush() {
    if (!bytes.empty()) {
        write_all(STDOUT_FILENO, bytes.data(), bytes.size());
        bytes.clear();
    }
}

out_buffer& stdout_buffer() {
    static out_buffer buffer;
    return buffer;
}

// One unit a byte, in one pass the compiler can widen to vectors: every line
// of a run of millions of files comes through here.
void append_bytes(std::string& out, std::wstring_view text) {
    const std::size_t start = out.size();
    out.resize(start + text.size());
    char* bytes = out.data() + start;
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[i] = static_cast<char>(static_cast<unsigned char>(text[i]));
    }
}

}  // namespace

void console_write(console_stream stream, std::wstring_view text) {
    out_buffer& out = stdout_buffer();
    if (stream == console_stream::err) {
        out.flush();
        std::string bytes;
        append_bytes(bytes, text);
        write_all(STDERR_FILENO, bytes.data(), bytes.size());
        return;
    }
    append_bytes(out.bytes, text);
    if (out.bytes.size() >= 64 * 1024) {
        out.flush();
    }
}

void console_flush() {
    stdout_buffer().flush();
}

bool console_is_terminal(console_stream stream) {
    return ::isatty(stream == console_stream::out ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

namespace {
int descriptor_of(console_stream stream) {
    return stream == console_stream::out ? STDOUT_FILENO : STDERR_FILENO;
}
}  // namespace

bool console_can_erase_line(console_stream stream) {
    // A terminal that calls itself dumb knows no escape sequences.
    const char* term = std::getenv("TERM");
    return ::isatty(descriptor_of(stream)) == 1 && term != nullptr && *term != '\0' &&
           std::strcmp(term, "dumb") != 0;
}

int console_columns(console_stream stream) {
    winsize size{};
    if (::ioctl(descriptor_of(stream), TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

}  // namespace korvane::platform
