#include "shard_results.h"

#include <algorithm>
#include <cstring>

#include "platform/fileops.h"
#include "platform/text.h"
#include "shards.h"

namespace korvane::app {

namespace {

constexpr std::size_t write_chunk = 16 * 1024;

int hex_value(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool hex_number(std::string_view text, std::uint32_t& out) {
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = hex_value(c);
        if (digit < 0) {
            return false;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    out = value;
    return true;
}

}  // namespace

std::string encode_text(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t unit : text) {
        const auto value = static_cast<std::uint32_t>(unit);
        if (value > 0x20 && value < 0x7F && value != '%') {
            out += static_cast<char>(value);
            continue;
        }
        char digits[8];
        if (value <= 0xFF) {
            out += '%';
            platform::encode_hex32(value, digits, platform::hex_case::upper);
            out.append(digits + 6, 2);
        } else {
            out += "%u";
            platform::encode_hex32(value, digits, platform::hex_case::upper);
            out.append(digits + 4, 4);
        }
    }
    return out;
}

bool decode_text(std::string_view text, std::wstring& out) {
    out.clear();
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        if (c != '%') {
            out += static_cast<wchar_t>(static_cast<unsigned char>(c));
            ++at;
            continue;
        }
        const bool wide = at + 1 < text.size() && text[at + 1] == 'u';
        const std::size_t digits = wide ? 4 : 2;
        const std::size_t from = at + (wide ? 2 : 1);
        std::uint32_t value = 0;
        if (from + digits > text.size() || !hex_number(text.substr(from, digits), value) ||
            value == 0) {
            return false;
        }
        if (wide && !platform::wide_units_are_utf16) {
            return false;  // such a unit is never written here
        }
        out += static_cast<wchar_t>(value);
        at = from + digits;
    }
    return true;
}

std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    for (;;) {
        const std::size_t space = line.find(' ', at);
        fields.push_back(line.substr(at, space == std::string_view::npos ? space : space - at));
        if (space == std::string_view::npos) {
            return fields;
        }
        at = space + 1;
    }
}

bool number_field(std::string_view text, std::uint64_t& out) {
    return decimal_number(text, ~std::uint64_t{0}, out);
}

std::string hex_of(const unsigned char* bytes, std::size_t size) {
    std::string text(size * 2, '0');
    platform::encode_hex(bytes, size, text.data(), platform::hex_case::lower);
    return text;
}

bool bytes_of_hex(std::string_view text, unsigned char* out, std::size_t size) {
    if (text.size() != size * 2) {
        return false;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const int high = hex_value(text[2 * i]);
        const int low = hex_value(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        out[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

results_writer::~results_writer() {
    abandon();
}

void results_writer::abandon() {
    if (file_.is_open()) {
        (void)file_.close();
        (void)platform::remove_file(temp_.c_str());
    }
    buffer_.clear();
}

status results_writer::fail(int error) {
    error_ = error;
    abandon();
    return error == ENOENT ? status::unknown_error : from_errno(error);
}

status results_writer::begin(const std::wstring& path) {
    abandon();
    path_ = path;
    unsigned mode = 0;
    // Only a regular file of the user's own gives way; a folder, a link's
    // target or someone else's file stays untouched.
    if (const int error = platform::replacement_mode(path.c_str(), mode); error != 0) {
        error_ = error;
        return from_errno(error);
    }
    if (const int error = platform::remove_file(path.c_str()); error != 0 && error != ENOENT) {
        error_ = error;
        return from_errno(error);
    }
    if (const int error = file_.create_beside(path.c_str(), temp_); error != 0) {
        error_ = error;
        return from_errno(error);
    }
    if (const int error = file_.set_mode(mode); error != 0) {
        return fail(error);
    }
    return status::ok;
}

status results_writer::line(std::string_view text) {
    if (!file_.is_open()) {
        return status::unknown_error;
    }
    buffer_.append(text);
    buffer_ += '\n';
    return buffer_.size() >= write_chunk ? flush() : status::ok;
}

status results_writer::flush() {
    if (buffer_.empty()) {
        return status::ok;
    }
    if (const int error = file_.write_all(buffer_.data(), buffer_.size()); error != 0) {
        return fail(error);
    }
    buffer_.clear();
    return status::ok;
}

status results_writer::commit() {
    if (!file_.is_open()) {
        return status::unknown_error;
    }
    if (status result = flush(); result != status::ok) {
        return result;
    }
    if (const int error = file_.sync(); error != 0) {
        return fail(error);
    }
    if (const int error = file_.close(); error != 0) {
        error_ = error;
        (void)platform::remove_file(temp_.c_str());
        return status::unknown_error;
    }
    if (const int error = platform::rename_file(temp_.c_str(), path_.c_str()); error != 0) {
        error_ = error;
        (void)platform::remove_file(temp_.c_str());
        return from_errno(error);
    }
    return status::ok;
}

results_reader::~results_reader() {
    close();
}

void results_reader::close() {
    if (file_ != platform::invalid_file) {
        platform::close_file(file_);
        file_ = platform::invalid_file;
    }
}

int results_reader::open(const std::wstring& path) {
    close();
    start_ = end_ = 0;
    eof_ = too_long_ = false;
    error_ = 0;
    number_ = 0;
    buffer_.resize(longest_line + 1);
    return platform::open_for_streaming(path.c_str(), file_);
}

bool results_reader::next(std::string_view& line) {
    for (;;) {
        const char* begin = buffer_.data() + start_;
        const char* found = static_cast<const char*>(std::memchr(begin, '\n', end_ - start_));
        if (found != nullptr) {
            line = std::string_view(begin, static_cast<std::size_t>(found - begin));
            start_ += line.size() + 1;
            ++number_;
            return true;
        }
        if (eof_ || error_ != 0) {
            return false;  // a last line without its end is no line
        }
        if (end_ - start_ >= longest_line) {
            too_long_ = true;
            error_ = EINVAL;
            return false;
        }
        std::memmove(buffer_.data(), begin, end_ - start_);
        end_ -= start_;
        start_ = 0;
        std::size_t got = 0;
        error_ = platform::read_some(file_, buffer_.data() + end_, buffer_.size() - end_, got);
        eof_ = got == 0;
        end_ += got;
    }
}

}  // namespace korvane::app
