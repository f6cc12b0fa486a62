#include "formats/stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/fileops.h"
#include "platform/interrupt.h"
#include "platform/text.h"

namespace korvane::detail {

namespace {

constexpr std::size_t read_chunk = 64 * 1024;
constexpr std::size_t write_chunk = 256 * 1024;

// A failing call that left no error number must not read as success.
[[nodiscard]] status failure_status(int error, status when_zero) {
    if (error == platform::error_unrepresentable_path) {
        return status::path_error;
    }
    return error == 0 ? when_zero : from_errno(error);
}

// How many of the available bytes belong to the current line: up to and with
// its '\n' (line_ends then true), or all of them.
std::size_t line_piece(const char* start, std::size_t available, bool& line_ends) {
    const void* found = std::memchr(start, '\n', available);
    line_ends = found != nullptr;
    if (!line_ends) {
        return available;
    }
    return static_cast<std::size_t>(static_cast<const char*>(found) - start) + 1;
}

}  // namespace

checksum_stream::checksum_stream() = default;

checksum_stream::~checksum_stream() {
    discard();
}

status checksum_stream::status_of(int error) {
    if (error == 0) {
        return status::ok;
    }
    korvane::detail::note_failure(error, false);
    return failure_status(error, status::unknown_error);
}

status checksum_stream::written_status_of(int error) {
    if (error == 0) {
        return status::ok;
    }
    korvane::detail::note_failure(error, true);
    return failure_status(error, status::unknown_error);
}

status checksum_stream::open_existing(const wchar_t* path, bool writable) {
    discard();
    int error = file.open_existing(path, writable);
    if (error != 0) {
        return status_of(error);
    }
    opened_path = path;
    stamped = file.stamp(opened_stamp) == 0;
    in.resize(read_chunk);
    return detect_encoding();
}

status checksum_stream::detect_encoding() {
    status result = fill(2);
    if (result != status::ok || in_end - in_begin < 2) {
        return result;
    }
    const auto first = static_cast<unsigned char>(in[in_begin]);
    const auto second = static_cast<unsigned char>(in[in_begin + 1]);
    if (first == 0xFF && second == 0xFE) {
        encoding = text_encoding::utf16_le;
    } else if (first == 0xFE && second == 0xFF) {
        encoding = text_encoding::utf16_be;
    } else {
        return status::ok;
    }
    return seek_text(0);
}

namespace {

// Appends the UTF-8 form of `code` (a Unicode scalar value) at `to`; returns
// how many bytes it took.
std::size_t append_utf8(char32_t code, char* to) {
    if (code < 0x80) {
        to[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        to[0] = static_cast<char>(0xC0 | (code >> 6));
        to[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        to[0] = static_cast<char>(0xE0 | (code >> 12));
        to[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        to[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    to[0] = static_cast<char>(0xF0 | (code >> 18));
    to[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    to[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    to[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

constexpr char32_t replacement = 0xFFFD;

// A code point as the parsers above take a list's text: UTF-8 where names
// are bytes (POSIX); on Windows, where every byte of a list is the code unit
// of its value, the one byte of a code point up to U+00FF and '?' for any
// other, which no file name there holds.
std::size_t append_text_unit(char32_t code, char* to) {
    if constexpr (korvane::platform::wide_units_are_utf16) {
        *to = code <= 0xFF ? static_cast<char>(code) : '?';
        return 1;
    } else {
        return append_utf8(code, to);
    }
}

// Transcodes the whole UTF-16 units of bytes[0, count) to UTF-8 at `to`, which
// has room for three bytes per unit. A high surrogate at the end waits for its
// partner unless the file `ended`; a surrogate without its partner becomes
// U+FFFD. Returns the bytes written; `used` receives the input bytes taken.
std::size_t transcode_utf16(const unsigned char* bytes, std::size_t count, bool big_endian,
                            bool ended, char* to, std::size_t& used) {
    auto unit = [&](std::size_t at) -> char32_t {
        return big_endian ? static_cast<char32_t>(bytes[at] << 8 | bytes[at + 1])
                          : static_cast<char32_t>(bytes[at + 1] << 8 | bytes[at]);
    };
    std::size_t out = 0;
    used = 0;
    while (used + 2 <= count) {
        char32_t code = unit(used);
        std::size_t take = 2;
        if (code >= 0xD800 && code < 0xDC00) {
            if (used + 4 > count && !ended) {
                break;  // its partner comes with the next read
            }
            const char32_t low = used + 4 <= count ? unit(used + 2) : 0;
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                take = 4;
            } else {
                code = replacement;
            }
        } else if (code >= 0xDC00 && code < 0xE000) {
            code = replacement;
        }
        out += append_text_unit(code, to + out);
        used += take;
    }
    if (ended && used < count) {
        out += append_text_unit(replacement, to + out);  // half a unit at the end
        used = count;
    }
    return out;
}

}  // namespace

std::int64_t checksum_stream::read_text(char* to, std::size_t room) {
    if (encoding == text_encoding::bytes) {
        return file.read(to, room);
    }
    // Three UTF-8 bytes at most for each unit of two bytes.
    const std::size_t want = std::max<std::size_t>(room / 3 * 2, 4);
    for (;;) {
        const std::size_t held = units.size();
        bool ended = false;
        if (held < want) {
            units.resize(want);
            const std::int64_t got = file.read(units.data() + held, want - held);
            if (got < 0) {
                units.resize(held);
                return got;
            }
            units.resize(held + static_cast<std::size_t>(got));
            ended = got == 0;
        }
        std::size_t used = 0;
        const std::size_t made = transcode_utf16(
            units.data(), units.size(), encoding == text_encoding::utf16_be, ended, to, used);
        units.erase(units.begin(), units.begin() + static_cast<std::ptrdiff_t>(used));
        if (made > 0 || ended) {
            return static_cast<std::int64_t>(made);
        }
    }
}

status checksum_stream::seek_text(std::uint64_t position) {
    int error = file.seek(2);  // past the byte-order mark
    if (error != 0) {
        return status_of(error);
    }
    units.clear();
    in_begin = in_end = 0;
    in_offset = 0;
    at_end = false;
    while (position > 0) {
        status result = fill(1);
        if (result != status::ok) {
            return result;
        }
        if (in_begin == in_end) {
            return status::file_read_error;  // the file shrank meanwhile
        }
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(position, in_end - in_begin));
        in_begin += take;
        position -= take;
    }
    return status::ok;
}

status checksum_stream::open_again_for_rewrite(platform::native_file& writable) {
    if (!file.is_open() || opened_path.empty()) {
        return status::file_not_open;
    }
    if (utf16()) {
        return status::utf16_list;  // positions are not the file's: nothing is written
    }
    int error = writable.open_for_rewrite(opened_path.c_str());
    if (error != 0) {
        return status_of(error);
    }
    // The path may name another file by now: never write into that one.
    std::uint64_t device[2] = {};
    std::uint64_t inode[2] = {};
    if (file.identity(device[0], inode[0]) != 0 || writable.identity(device[1], inode[1]) != 0 ||
        device[0] != device[1] || inode[0] != inode[1]) {
        return status::access_denied;
    }
    return status::ok;
}

status checksum_stream::check_rewritable() {
    platform::native_file writable;
    return open_again_for_rewrite(writable);
}

status checksum_stream::reopen_for_rewrite() {
    platform::native_file writable;
    status result = open_again_for_rewrite(writable);
    if (result != status::ok) {
        return result;
    }
    result = flush();
    if (result != status::ok) {
        return result;
    }
    std::uint64_t position = tell();
    file.swap(writable);
    return seek(position);
}

status checksum_stream::exclude_other_writers() {
    int error = file.exclude_writers();
    if (error == platform::error_file_in_use) {
        return status::access_denied;
    }
    // With any other error the file system keeps no writer out: one could
    // still come between the check and the rewrite, but the check catches
    // every one that wrote while the list was being read, the longest window
    // by far.
    platform::native_file::stamp_value now;
    if (!stamped || file.stamp(now) != 0 || !(now == opened_stamp)) {
        return status::access_denied;
    }
    return status::ok;
}

status checksum_stream::check_unchanged() const {
    platform::native_file::stamp_value now;
    if (!stamped || file.stamp(now) != 0 || !(now == opened_stamp)) {
        return status::list_changed;
    }
    return status::ok;
}

void checksum_stream::release_file() {
    (void)file.close();  // only read since it was stamped
}

status checksum_stream::create_for(const wchar_t* target) {
    discard();
    unsigned mode = 0;
    int error = platform::replacement_mode(target, mode);
    if (error != 0) {
        return status_of(error);
    }
    {
        // Tried now, so that a folder that takes no new file fails the run
        // before every file is hashed. Removed at once, with interrupts held
        // back in between.
        platform::interrupt_deferral hold_interrupts;
        std::wstring probe;
        error = file.create_beside(target, probe);
        if (error != 0) {
            return written_status_of(error);
        }
        // Empty and never renamed over anything: should it stay behind, its
        // name is unpredictable and it holds nothing.
        (void)file.close();
        (void)platform::remove_file(probe.c_str());
    }
    target_path = target;
    new_mode = mode;
    pending_create = true;
    writing = true;
    return status::ok;
}

status checksum_stream::create_temporary() {
    std::wstring temp;
    int error = file.create_beside(target_path.c_str(), temp);
    if (error != 0) {
        return written_status_of(error);
    }
    temp_path = std::move(temp);
    pending_create = false;
    return status::ok;
}

status checksum_stream::commit() {
    status result = pending_create ? create_temporary() : status::ok;
    if (result == status::ok) {
        result = flush();
    }
    if (result == status::ok) {
        result = written_status_of(file.sync());
    }
    if (result == status::ok) {
        result = written_status_of(file.set_mode(new_mode));
    }
    if (result == status::ok) {
        result = written_status_of(file.close());
    }
    if (result == status::ok) {
        result = written_status_of(platform::rename_file(temp_path.c_str(), target_path.c_str()));
    }
    if (result != status::ok) {
        discard();
        return result;
    }
    temp_path.clear();
    target_path.clear();
    discard();
    return status::ok;
}

void checksum_stream::discard() {
    // Discarding writes nothing that matters: a file still open was only read
    // or is an uncommitted new list, which goes away here.
    (void)file.close();
    if (!temp_path.empty()) {
        // A leftover has an unpredictable name and never replaced the target.
        (void)platform::remove_file(temp_path.c_str());
        temp_path.clear();
    }
    target_path.clear();
    opened_path.clear();
    stamped = false;
    pending_create = false;
    in_begin = in_end = 0;
    in_offset = 0;
    at_end = false;
    out.clear();
    out_offset = 0;
    writing = false;
    lines_ended = current_line = 0;
    line_open = false;
    encoding = text_encoding::bytes;
    units.clear();
}

status checksum_stream::close() {
    status result = flush();
    status closed = written_status_of(file.close());
    discard();
    return result != status::ok ? result : closed;
}

status checksum_stream::fill(std::size_t want) {
    if (in_end - in_begin >= want || at_end) {
        return status::ok;
    }
    if (in_begin > 0) {
        std::memmove(in.data(), in.data() + in_begin, in_end - in_begin);
        in_offset += in_begin;
        in_end -= in_begin;
        in_begin = 0;
    }
    while (in_end - in_begin < want && !at_end) {
        if (in.size() - in_end < read_chunk / 2) {
            in.resize(in.size() + read_chunk);
        }
        std::int64_t got = read_text(in.data() + in_end, in.size() - in_end);
        if (got < 0) {
            korvane::detail::note_failure(static_cast<int>(-got), false);
            return failure_status(static_cast<int>(-got), status::file_read_error);
        }
        if (got == 0) {
            at_end = true;
        }
        in_end += static_cast<std::size_t>(got);
    }
    return status::ok;
}

status checksum_stream::next_piece(std::string_view& piece, bool& line_ends) {
    line_ends = false;
    status result = fill(1);
    if (result != status::ok || in_begin == in_end) {
        piece = {};
        return result;
    }
    const char* start = in.data() + in_begin;
    piece = std::string_view(start, line_piece(start, in_end - in_begin, line_ends));
    return status::ok;
}

// The length of a UTF-8 byte-order mark at `bytes`, or 0.
static std::size_t byte_order_mark_length(const char* bytes, std::size_t available) {
    return available >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
}

// The line being read: `length` units of `room` filled so far; `got_any` once
// a byte of it (text or its line end) has been taken.
struct line_output {
    wchar_t* buffer;
    int length;
    int room;
    bool got_any;
    bool ended = false;  // its line end was taken
};

// Copies the bytes up to the next CR or LF (at most `available` and the room
// left), widened; a CR that stands first is copied alone, as text. Returns how
// many bytes it took.
static std::size_t copy_text_run(const char* start, std::size_t available, line_output& line) {
    std::size_t limit = available;
    if (limit > static_cast<std::size_t>(line.room - line.length)) {
        limit = static_cast<std::size_t>(line.room - line.length);
    }
    std::size_t run = 0;
    while (run < limit && start[run] != '\n' && start[run] != '\r') {
        line.buffer[line.length + static_cast<int>(run)] =
            static_cast<wchar_t>(static_cast<unsigned char>(start[run]));
        ++run;
    }
    if (run == 0) {
        // A lone CR: part of the line.
        line.buffer[line.length++] = L'\r';
        return 1;
    }
    line.length += static_cast<int>(run);
    return run;
}

// Takes bytes of the current line from data[begin, end). Returns true once the
// line is over (its line end taken, the room used up, or the input ended),
// false when more bytes must be read first: none are left, or a CR is the
// last one and might start a CR LF.
static bool take_line_bytes(const char* data, std::size_t& begin, std::size_t end, bool at_end,
                            line_output& line) {
    for (;;) {
        if (begin == end) {
            return at_end;
        }
        if (data[begin] == '\r' && end - begin < 2 && !at_end) {
            return false;
        }
        // The line end before the room: a line that fills the room exactly is
        // whole, not cut.
        const char c = data[begin];
        if (c == '\n' || (c == '\r' && end - begin >= 2 && data[begin + 1] == '\n')) {
            begin += c == '\n' ? 1 : 2;
            line.got_any = true;
            line.ended = true;
            return true;
        }
        if (line.length == line.room) {
            return true;
        }
        // The common case: copy a run of plain bytes at once.
        begin += copy_text_run(data + begin, end - begin, line);
        line.got_any = true;
    }
}

status checksum_stream::read_line(wchar_t* buffer, int count, int& length) {
    length = 0;
    cut = false;
    if (!file.is_open()) {
        return status::file_not_found;
    }
    if (count < 2) {
        return status::invalid_arguments;
    }
    if (in_offset + in_begin == 0) {
        // A UTF-8 byte-order mark, as Windows editors put before the first line,
        // belongs to no line.
        status result = fill(3);
        if (result != status::ok) {
            return result;
        }
        in_begin += byte_order_mark_length(in.data() + in_begin, in_end - in_begin);
    }
    for (;;) {
        line_output line{buffer, 0, count - 1, false};
        if (!line_open) {
            current_line = lines_ended + 1;
        }
        while (!take_line_bytes(in.data(), in_begin, in_end, at_end, line)) {
            status result = fill(2);
            if (result != status::ok) {
                return result;
            }
        }
        note_line_end(line.ended, line.got_any);
        buffer[line.length] = L'\0';
        if (!line.got_any || line.length > 0) {
            length = line.length;
            cut = line.length == line.room && !line.ended;
            return status::ok;
        }
    }
}

status checksum_stream::read_raw_line(raw_line& line, std::size_t keep) {
    line.bytes.clear();
    line.length = 0;
    line.has_end = false;
    line.found = false;
    line.start = tell();
    std::size_t total = 0;
    bool previous_cr = false;
    for (;;) {
        std::string_view piece;
        bool line_ends = false;
        status result = next_piece(piece, line_ends);
        if (result != status::ok) {
            return result;
        }
        if (piece.empty()) {
            break;
        }
        if (line.bytes.size() < keep) {
            line.bytes.append(piece.substr(0, keep - line.bytes.size()));
        }
        total += piece.size();
        in_begin += piece.size();
        note_line_end(line_ends, true);
        if (line_ends) {
            line.has_end = true;
            // CR of CR LF may sit in the previous chunk.
            bool cr = piece.size() >= 2 ? piece[piece.size() - 2] == '\r' : previous_cr;
            line.length = total - 1 - (cr ? 1 : 0);
            line.found = true;
            return status::ok;
        }
        previous_cr = piece.back() == '\r';
    }
    line.length = total;
    line.found = total > 0;
    return status::ok;
}

std::uint64_t checksum_stream::tell() const {
    if (!out.empty()) {
        return out_offset + out.size();
    }
    return in_offset + in_begin;
}

status checksum_stream::seek(std::uint64_t position) {
    status result = flush();
    if (result != status::ok) {
        return result;
    }
    line_open = false;
    if (position == 0) {
        lines_ended = 0;
    }
    if (encoding != text_encoding::bytes) {
        return seek_text(position);
    }
    int error = file.seek(position);
    if (error != 0) {
        return status_of(error);
    }
    in_begin = in_end = 0;
    in_offset = position;
    out_offset = position;
    at_end = false;
    return status::ok;
}

void checksum_stream::note_line_end(bool ended, bool took_bytes) {
    if (ended) {
        ++lines_ended;
        line_open = false;
    } else if (took_bytes) {
        line_open = true;
    }
}

status checksum_stream::peek(std::size_t count, std::string_view& bytes) {
    status result = fill(count);
    if (result != status::ok) {
        return result;
    }
    bytes = std::string_view(in.data() + in_begin, std::min(count, in_end - in_begin));
    return status::ok;
}

status checksum_stream::copy_line(checksum_stream* to, bool& copied) {
    copied = false;
    for (;;) {
        std::string_view piece;
        bool line_ends = false;
        status result = next_piece(piece, line_ends);
        if (result != status::ok) {
            return result;
        }
        if (piece.empty()) {
            if (copied && to != nullptr) {
                return to->write("\r\n");
            }
            return status::ok;
        }
        copied = true;
        if (to != nullptr) {
            result = to->write(piece);
            if (result != status::ok) {
                return result;
            }
        }
        in_begin += piece.size();
        note_line_end(line_ends, true);
        if (line_ends) {
            return status::ok;
        }
    }
}

status checksum_stream::copy_bytes(checksum_stream& to, std::uint64_t count) {
    while (count > 0) {
        if (in_begin == in_end) {
            status result = fill(1);
            if (result != status::ok) {
                return result;
            }
            if (in_begin == in_end) {
                return status::file_read_error;  // the file shrank meanwhile
            }
        }
        std::size_t take = in_end - in_begin;
        if (take > count) {
            take = static_cast<std::size_t>(count);
        }
        status result = to.write(std::string_view(in.data() + in_begin, take));
        if (result != status::ok) {
            return result;
        }
        in_begin += take;
        count -= take;
    }
    return status::ok;
}

status checksum_stream::write(std::string_view bytes) {
    if (!file.is_open() && !pending_create) {
        return status::file_not_open;
    }
    if (out.empty()) {
        out_offset = tell();
    }
    out.append(bytes);
    return out.size() >= write_chunk ? flush() : status::ok;
}

status checksum_stream::flush() {
    if (out.empty()) {
        return status::ok;
    }
    if (pending_create) {
        status result = create_temporary();
        if (result != status::ok) {
            out.clear();
            return result;
        }
    }
    int error = file.write_all(out.data(), out.size());
    std::uint64_t end = out_offset + out.size();
    out.clear();
    if (error != 0) {
        return written_status_of(error);
    }
    out_offset = end;
    in_offset = end;
    in_begin = in_end = 0;
    return status::ok;
}

status checksum_stream::sync() {
    status result = flush();
    return result != status::ok ? result : written_status_of(file.sync());
}

status checksum_stream::truncate_here() {
    status result = flush();
    if (result != status::ok) {
        return result;
    }
    return written_status_of(file.truncate(tell()));
}

status checksum_stream::truncate_to(std::uint64_t size) {
    out.clear();
    return written_status_of(file.truncate(size));
}

}  // namespace korvane::detail
