#include "formats/stream.h"

#include <korvane/status.h>

#include <cstring>

#include "platform/fileops.h"

namespace korvane::detail {

namespace {

constexpr std::size_t read_chunk = 64 * 1024;
constexpr std::size_t write_chunk = 256 * 1024;

// A failing call that left no error number must not read as success.
int failure_status(int error, int when_zero) {
    if (error == platform::error_unrepresentable_path) {
        return korvane_status::path_error;
    }
    return error == 0 ? when_zero : status_from_errno(error);
}

}  // namespace

checksum_stream::checksum_stream() = default;

checksum_stream::~checksum_stream() {
    discard();
}

int checksum_stream::status_of(int error) const {
    return error == 0 ? 0 : failure_status(error, korvane_status::unknown_error);
}

int checksum_stream::open_existing(const wchar_t* path, bool writable) {
    discard();
    int error = file.open_existing(path, writable);
    if (error != 0) {
        return status_of(error);
    }
    in.resize(read_chunk);
    return 0;
}

int checksum_stream::create_for(const wchar_t* target) {
    discard();
    std::wstring temp;
    int error = file.create_beside(target, temp);
    if (error != 0) {
        return status_of(error);
    }
    target_path = target;
    temp_path = std::move(temp);
    writing = true;
    return 0;
}

int checksum_stream::commit() {
    int status = flush();
    if (status == 0) {
        status = status_of(file.sync());
    }
    if (status == 0) {
        status = status_of(file.close());
    }
    if (status == 0) {
        status = status_of(platform::rename_file(temp_path.c_str(), target_path.c_str()));
    }
    if (status != 0) {
        discard();
        return status;
    }
    temp_path.clear();
    target_path.clear();
    discard();
    return 0;
}

void checksum_stream::discard() {
    file.close();
    if (!temp_path.empty()) {
        platform::remove_file(temp_path.c_str());
        temp_path.clear();
    }
    target_path.clear();
    in_begin = in_end = 0;
    in_offset = 0;
    at_end = false;
    out.clear();
    out_offset = 0;
    writing = false;
}

int checksum_stream::close() {
    int status = flush();
    int closed = status_of(file.close());
    discard();
    return status != 0 ? status : closed;
}

int checksum_stream::fill(std::size_t want) {
    if (in_end - in_begin >= want || at_end) {
        return 0;
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
        std::int64_t got = file.read(in.data() + in_end, in.size() - in_end);
        if (got < 0) {
            return failure_status(static_cast<int>(-got), korvane_status::file_read_error);
        }
        if (got == 0) {
            at_end = true;
        }
        in_end += static_cast<std::size_t>(got);
    }
    return 0;
}

int checksum_stream::read_line(wchar_t* buffer, int count) {
    if (!file.is_open()) {
        return korvane_status::file_not_found;
    }
    if (count < 2) {
        return korvane_status::invalid_arguments;
    }
    const int room = count - 1;
    if (in_offset + in_begin == 0) {
        // A UTF-8 byte-order mark, as Windows editors put before the first line,
        // belongs to no line.
        int status = fill(3);
        if (status != 0) {
            return status;
        }
        if (in_end - in_begin >= 3 && std::memcmp(in.data() + in_begin, "\xEF\xBB\xBF", 3) == 0) {
            in_begin += 3;
        }
    }
    for (;;) {
        int length = 0;
        bool got_any = false;
        for (;;) {
            if (in_begin == in_end || (in[in_begin] == '\r' && in_end - in_begin < 2)) {
                int status = fill(2);
                if (status != 0) {
                    return status;
                }
                if (in_begin == in_end) {
                    break;
                }
            }
            if (length == room) {
                break;
            }
            char c = in[in_begin];
            if (c == '\n') {
                ++in_begin;
                got_any = true;
                break;
            }
            if (c == '\r' && in_end - in_begin >= 2 && in[in_begin + 1] == '\n') {
                in_begin += 2;
                got_any = true;
                break;
            }
            // The common case: copy a run of plain bytes at once.
            std::size_t limit = in_end - in_begin;
            if (limit > static_cast<std::size_t>(room - length)) {
                limit = static_cast<std::size_t>(room - length);
            }
            const char* start = in.data() + in_begin;
            std::size_t run = 0;
            while (run < limit && start[run] != '\n' && start[run] != '\r') {
                buffer[length + static_cast<int>(run)] =
                    static_cast<wchar_t>(static_cast<unsigned char>(start[run]));
                ++run;
            }
            if (run == 0) {
                // A lone CR: part of the line.
                buffer[length++] = L'\r';
                ++in_begin;
            } else {
                length += static_cast<int>(run);
                in_begin += run;
            }
            got_any = true;
        }
        buffer[length] = L'\0';
        if (!got_any) {
            return 0;
        }
        if (length > 0) {
            return length;
        }
    }
}

int checksum_stream::read_raw_line(raw_line& line, std::size_t keep) {
    line.bytes.clear();
    line.length = 0;
    line.has_end = false;
    line.start = tell();
    std::size_t total = 0;
    bool previous_cr = false;
    for (;;) {
        if (in_begin == in_end) {
            int status = fill(1);
            if (status != 0) {
                return status;
            }
            if (in_begin == in_end) {
                break;
            }
        }
        const char* start = in.data() + in_begin;
        std::size_t available = in_end - in_begin;
        const void* found = std::memchr(start, '\n', available);
        std::size_t take =
            found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - start) + 1
                             : available;
        if (line.bytes.size() < keep) {
            line.bytes.append(start, std::min(take, keep - line.bytes.size()));
        }
        total += take;
        in_begin += take;
        if (found != nullptr) {
            line.has_end = true;
            // CR of CR LF may sit in the previous chunk.
            bool cr = take >= 2 ? start[take - 2] == '\r' : previous_cr;
            line.length = total - 1 - (cr ? 1 : 0);
            return 1;
        }
        previous_cr = start[take - 1] == '\r';
    }
    line.length = total;
    return total > 0 ? 1 : 0;
}

std::uint64_t checksum_stream::tell() const {
    if (!out.empty()) {
        return out_offset + out.size();
    }
    return in_offset + in_begin;
}

int checksum_stream::seek(std::uint64_t position) {
    int status = flush();
    if (status != 0) {
        return status;
    }
    int error = file.seek(position);
    if (error != 0) {
        return status_of(error);
    }
    in_begin = in_end = 0;
    in_offset = position;
    out_offset = position;
    at_end = false;
    return 0;
}

int checksum_stream::write(std::string_view bytes) {
    if (!file.is_open()) {
        return korvane_status::file_not_open;
    }
    if (out.empty()) {
        out_offset = tell();
    }
    out.append(bytes);
    return out.size() >= write_chunk ? flush() : 0;
}

int checksum_stream::flush() {
    if (out.empty()) {
        return 0;
    }
    int error = file.write_all(out.data(), out.size());
    std::uint64_t end = out_offset + out.size();
    out.clear();
    if (error != 0) {
        return status_of(error);
    }
    out_offset = end;
    in_offset = end;
    in_begin = in_end = 0;
    return 0;
}

int checksum_stream::truncate_here() {
    int status = flush();
    if (status != 0) {
        return status;
    }
    return status_of(file.truncate(tell()));
}

int checksum_stream::truncate_to(std::uint64_t size) {
    out.clear();
    return status_of(file.truncate(size));
}

}  // namespace korvane::detail
