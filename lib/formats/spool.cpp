#include "formats/spool.h"

#include <cstring>
#include <memory>
#include <new>

#include "formats/lines.h"
#include "formats/stream.h"
#include "platform/text.h"

namespace korvane::detail {

namespace {

constexpr std::size_t default_capacity = 256 * 1024;
// Small enough that the join's memory stays below what the buffers hold,
// whatever the size of the list (the stream written to gathers its own
// quarter mebibyte before each write).
constexpr std::size_t copy_chunk = 64 * 1024;

std::size_t spool_capacity = default_capacity;

// A failed read of a scratch file, with its cause kept as the list's own
// reads keep it.
status read_status(int error) {
    note_failure(error, false);
    return error == 0 ? status::file_read_error : from_errno(error);
}

}  // namespace

void set_spool_capacity(std::size_t bytes) {
    spool_capacity = bytes == 0 ? default_capacity : bytes;
}

void line_spool::start(const wchar_t* path, std::size_t bytes) {
    drop();
    target = path;
    capacity = bytes;
}

int line_spool::append(std::string_view bytes) {
    if (buffer.size() + bytes.size() <= capacity) {
        buffer.append(bytes);
        return 0;
    }
    int error = spill(buffer);
    buffer.clear();
    if (error != 0) {
        return error;
    }
    if (bytes.size() > capacity) {
        return spill(bytes);  // a line longer than the buffer goes out at once
    }
    buffer.append(bytes);
    return 0;
}

int line_spool::spill(std::string_view bytes) {
    if (bytes.empty()) {
        return 0;
    }
    if (!scratch.is_open()) {
        int error = scratch.create_scratch_beside(target.c_str());
        if (error != 0) {
            return error;
        }
    }
    int error = scratch.write_all(bytes.data(), bytes.size());
    if (error == 0) {
        spilled += bytes.size();
    }
    return error;
}

status line_spool::copy_to(checksum_stream& to) {
    if (spilled > 0) {
        std::unique_ptr<char[]> chunk(new (std::nothrow) char[copy_chunk]);
        if (chunk == nullptr) {
            return status::unknown_error;
        }
        int error = scratch.seek(0);
        if (error != 0) {
            return read_status(error);
        }
        std::uint64_t copied = 0;
        while (copied < spilled) {
            std::int64_t got = scratch.read(chunk.get(), copy_chunk);
            if (got <= 0) {
                // The scratch file gave back less than was written to it.
                return read_status(got < 0 ? static_cast<int>(-got) : 0);
            }
            copied += static_cast<std::uint64_t>(got);
            status result = to.write(std::string_view(chunk.get(), static_cast<std::size_t>(got)));
            if (result != status::ok) {
                return result;
            }
        }
    }
    return to.write(buffer);
}

void line_spool::drop() {
    (void)scratch.close();  // unnamed: closing it is all it takes
    std::string().swap(buffer);
    spilled = 0;
}

void entry_spool::start(const wchar_t* target, int count) {
    drop();
    stream_count = count < 1 ? 1 : count > max_streams ? max_streams : count;
    for (int i = 0; i < stream_count; ++i) {
        streams[i].start(target, spool_capacity);
    }
    started = true;
}

status entry_spool::failure() const {
    if (failed != status::ok) {
        // Said again with each call that returns it: the program forgets a
        // cause once it has asked.
        note_failure(failed_error, true);
        return failed;
    }
    return refused;
}

// A formatter's inner line ends (a record line before its entry) as the
// list ends its lines. Names hold no line break, so every CR LF is one.
static void end_inner_lines(std::string& text, const char* line_end) {
    if (line_end[0] == '\r') {
        return;
    }
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
}

status entry_spool::convert_name(const wchar_t* name) {
    if (!korvane::platform::narrow(name, name_bytes)) {
        return status::unknown_error;
    }
    return escapes || is_line_safe(name_bytes.c_str()) ? status::ok : status::path_error;
}

status entry_spool::add(const wchar_t* name, const char* hash_text, std::uint64_t size,
                        std::uint64_t time, line_formatter format) {
    if (failed != status::ok) {
        return failure();
    }
    if (refused != status::ok) {
        return status::ok;  // close fails anyway: nothing more is kept
    }
    refused = convert_name(name);
    if (refused != status::ok) {
        for (int i = 0; i < stream_count; ++i) {
            streams[i].drop();
        }
        return status::ok;
    }
    const file_entry entry{name_bytes.c_str(), hash_text, time, size};
    for (int i = 0; i < stream_count; ++i) {
        lines[i].clear();
        format(entry, i, lines[i]);
        end_inner_lines(lines[i], line_end);
        lines[i] += line_end;
        streams[i].prepare();
    }
    // From here on nothing allocates: an entry is taken whole or not at all.
    for (int i = 0; i < stream_count; ++i) {
        int error = streams[i].append(lines[i]);
        if (error != 0) {
            failed_error = error;
            failed = checksum_stream::written_status_of(error);
            for (int j = 0; j < stream_count; ++j) {
                streams[j].drop();
            }
            return failed;
        }
    }
    return status::ok;
}

status entry_spool::join(checksum_stream& to) {
    status result = failure();
    for (int i = 0; i < stream_count && result == status::ok; ++i) {
        result = streams[i].copy_to(to);
    }
    return result;
}

status entry_spool::join_stream(checksum_stream& to, int index) {
    status result = failure();
    if (result == status::ok && index < stream_count) {
        result = streams[index].copy_to(to);
    }
    return result;
}

status entry_spool::format_lines(const wchar_t* name, const char* hash_text, std::uint64_t size,
                                 std::uint64_t time, line_formatter formatter, std::string* out,
                                 int count) {
    status result = convert_name(name);
    if (result != status::ok) {
        return result;
    }
    const file_entry entry{name_bytes.c_str(), hash_text, time, size};
    for (int i = 0; i < count; ++i) {
        out[i].clear();
        formatter(entry, i, out[i]);
        end_inner_lines(out[i], line_end);
        out[i] += line_end;
    }
    return status::ok;
}

void entry_spool::drop() {
    for (auto& stream : streams) {
        stream.drop();
    }
    for (auto& text : lines) {
        std::string().swap(text);
    }
    std::string().swap(name_bytes);
    stream_count = 0;
    line_end = "\r\n";
    started = false;
    refused = status::ok;
    failed = status::ok;
    failed_error = 0;
}

}  // namespace korvane::detail
