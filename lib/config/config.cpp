#include <korvane/config.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "config/config_internal.h"
#include "platform/env.h"
#include "platform/fileops.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace korvane::config_detail {
namespace {

// Bytes 128 to 255 are text: UTF-8 values keep their leading and trailing
// characters.
bool is_blank(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

std::string_view trim_right(std::string_view text) {
    while (!text.empty() && is_blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view trim_left(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::optional<std::string> usable_variable(const char* name) {
    auto value = platform::get_environment(name);
    // An empty variable would put the store at the root of the file system.
    if (!value || value->empty()) {
        return std::nullopt;
    }
    return value;
}

std::unique_ptr<char[]> copy_text(std::string_view text) {
    std::unique_ptr<char[]> copy(new (std::nothrow) char[text.size() + 1]);
    if (copy) {
        std::memcpy(copy.get(), text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

}  // namespace

std::optional<location> find_location() {
    location where;
    std::optional<std::string> base = usable_variable("LOCALAPPDATA");
    if (!base) {
        base = usable_variable("APPDATA");
    }
    if (!base) {
        base = usable_variable("XDG_CONFIG_HOME");
        // A relative XDG_CONFIG_HOME is invalid and must be ignored.
        if (base && base->front() != '/') {
            base.reset();
        }
    }
    if (!base) {
        auto home = usable_variable("HOME");
        if (!home) {
            return std::nullopt;
        }
        base = *home;
        if (base->back() != '/') {
            base->push_back('/');
        }
        base->append(".config");
        where.parent = *base;
    }
    if (base->size() > max_directory_length) {
        return std::nullopt;
    }
    where.directory = std::move(*base);
    if (where.directory.back() != '/') {
        where.directory.push_back('/');
    }
    where.directory.append("Korvane/");
    where.file = where.directory + "korvane.conf";
    return where;
}

std::string_view clean_line(std::string_view raw) {
    std::size_t end = raw.size();
    std::size_t i = 0;
    while (i < end) {
        char c = raw[i];
        if (c == ';') {
            end = i;
            break;
        }
        if ((c == '\'' || c == '"') && (i == 0 || raw[i - 1] != '\\')) {
            std::size_t close = i + 1;
            while (close < end && !(raw[close] == c && raw[close - 1] != '\\')) {
                ++close;
            }
            if (close >= end) {
                break;  // an unclosed quote: the rest of the line is text
            }
            i = close + 1;
            continue;
        }
        ++i;
    }
    return trim_left(trim_right(raw.substr(0, end)));
}

bool split_setting(std::string_view line, std::string_view& key, std::string_view& value) {
    std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
        return false;
    }
    key = trim_right(line.substr(0, equals));
    value = trim_left(line.substr(equals + 1));
    if (!value.empty() && (value.front() == '\'' || value.front() == '"') &&
        value.back() == value.front()) {
        value = value.size() == 1 ? value.substr(1) : value.substr(1, value.size() - 2);
    }
    return true;
}

bool keys_match(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (platform::ascii_lower(a[i]) != platform::ascii_lower(b[i])) {
            return false;
        }
    }
    return true;
}

bool line_reader::next(std::string& line) {
    char buffer[max_piece + 1];
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        // Text after a zero byte is not part of the line, as for every C string.
        std::string_view cleaned = clean_line(std::string_view(buffer, std::strlen(buffer)));
        if (!cleaned.empty()) {
            line.assign(cleaned);
            return true;
        }
    }
    if (std::ferror(file)) {
        read_error = true;
    }
    return false;
}

}  // namespace korvane::config_detail

using namespace korvane::config_detail;

config_value::config_value(const char* key_text, const char* value_text) {
    if (key_text != nullptr) {
        key = copy_text(key_text);
    }
    if (value_text != nullptr) {
        value = copy_text(value_text);
    }
}

config_value::~config_value() = default;

config_value::operator bool() const {
    return value && keys_match(value.get(), "true");
}

config_value::operator const char*() const {
    return value.get();
}

config_value::operator unsigned long long() const {
    if (!value) {
        return 0;
    }
    unsigned long long number = 0;
    constexpr unsigned long long limit = ~0ULL;
    for (const char* p = value.get(); *p >= '0' && *p <= '9'; ++p) {
        auto digit = static_cast<unsigned long long>(*p - '0');
        if (number > (limit - digit) / 10) {
            return 0;
        }
        number = number * 10 + digit;
    }
    return number;
}

config* config::_instance = nullptr;

namespace {
// The store is never released: it lives in static storage that no destructor
// runs on, and creating it cannot fail for want of memory.
alignas(config) unsigned char instance_storage[sizeof(config)];
}  // namespace

config* config::instance() {
    if (_instance == nullptr) {
        _instance = new (instance_storage) config();
    }
    return _instance;
}

config::config() {
    auto where = find_location();
    if (!where) {
        return;
    }
    file_handle file(std::fopen(where->file.c_str(), "rb"));
    if (!file) {
        return;
    }
    try {
        line_reader reader(file.get());
        config_value* last = nullptr;
        std::string line;
        while (reader.next(line)) {
            std::string_view key;
            std::string_view value;
            if (!split_setting(line, key, value)) {
                continue;
            }
            config_value* found = nullptr;
            for (config_value* entry = first; entry != nullptr; entry = entry->next) {
                last = entry;
                if (keys_match(entry->key.get(), key)) {
                    found = entry;
                    break;
                }
            }
            auto key_copy = copy_text(key);
            auto value_copy = copy_text(value);
            if (!key_copy || !value_copy) {
                break;  // out of memory: keep what was read so far
            }
            if (found != nullptr) {
                // A later line for the same key wins, letter case of its key included.
                found->key = std::move(key_copy);
                found->value = std::move(value_copy);
                continue;
            }
            auto* entry = new (std::nothrow) config_value(nullptr, nullptr);
            if (entry == nullptr) {
                break;
            }
            entry->key = std::move(key_copy);
            entry->value = std::move(value_copy);
            if (last == nullptr) {
                first = entry;
            } else {
                last->next = entry;
            }
        }
    } catch (...) {
        // Out of memory while reading: the entries read so far stay.
    }
}

config::~config() {
    // Iteratively, so that no list length can exhaust the stack.
    while (first != nullptr) {
        config_value* next = first->next;
        delete first;
        first = next;
    }
}

const config_value& config::operator[](const char* key) const {
    static const config_value missing(nullptr, nullptr);
    if (key == nullptr) {
        return missing;
    }
    for (const config_value* entry = first; entry != nullptr; entry = entry->next) {
        if (keys_match(entry->key.get(), key)) {
            return *entry;
        }
    }
    return missing;
}

bool config::has_key(const char* key) const {
    return static_cast<const char*>((*this)[key]) != nullptr;
}

bool config::set(const char* key, const char* value) {
    if (key == nullptr || value == nullptr) {
        return false;
    }
    const std::string_view key_text(key);
    const std::string_view value_text(value);
    // The setting must come back as the same single line: a line break would
    // forge further settings, an '=' in the key would split elsewhere, and a
    // line longer than one read piece would be cut in two on the next load.
    if (key_text.find_first_of("=\r\n") != std::string_view::npos ||
        value_text.find_first_of("\r\n") != std::string_view::npos ||
        key_text.size() + 1 + value_text.size() > line_reader::max_piece) {
        return false;
    }
    {
        // Nor may the line read back as another setting: blanks at either end,
        // a ';' that starts a comment or a value wrapped in quotes would be
        // lost on the next load, and the caller told the setting was kept.
        std::string line;
        line.append(key_text).append("=").append(value_text);
        std::string_view read_key;
        std::string_view read_value;
        if (!split_setting(clean_line(line), read_key, read_value) || read_key != key_text ||
            read_value != value_text) {
            return false;
        }
    }
    auto where = find_location();
    if (!where) {
        return false;
    }
    try {
        // Everything that can fail comes before the file is replaced, so that
        // a false result leaves memory and disk as they were.
        auto value_copy = copy_text(value_text);
        std::unique_ptr<config_value> new_entry(new (std::nothrow) config_value(key, value));
        if (!value_copy || !new_entry || !new_entry->key || !new_entry->value) {
            return false;
        }
        if (!where->parent.empty()) {
            int error = korvane::platform::make_directory(where->parent.c_str());
            if (error != 0 && error != korvane::platform::error_exists) {
                return false;
            }
        }
        int error = korvane::platform::make_directory(where->directory.c_str());
        if (error != 0 && error != korvane::platform::error_exists) {
            return false;
        }

        std::string setting;
        setting.append(key_text).append("=").append(value_text).append("\n");
        std::string contents;
        bool written = false;
        errno = 0;
        file_handle old_file(std::fopen(where->file.c_str(), "rb"));
        if (old_file) {
            line_reader reader(old_file.get());
            std::string line;
            while (reader.next(line)) {
                std::string_view line_key;
                std::string_view line_value;
                if (split_setting(line, line_key, line_value) && keys_match(line_key, key_text)) {
                    if (!written) {
                        contents.append(setting);
                        written = true;
                    }
                    continue;  // later lines for the key are dropped
                }
                contents.append(line).append("\n");
            }
            // A file that exists but cannot be read is not rewritten from nothing.
            if (reader.failed()) {
                return false;
            }
            old_file.reset();
        } else if (errno != korvane::platform::error_not_found) {
            return false;
        }
        if (!written) {
            contents.append(setting);
        }

        const std::string new_name = where->file + ".new";
        file_handle new_file(std::fopen(new_name.c_str(), "wb"));
        if (!new_file) {
            return false;
        }
        bool ok =
            std::fwrite(contents.data(), 1, contents.size(), new_file.get()) == contents.size() &&
            std::fflush(new_file.get()) == 0;
        ok = std::fclose(new_file.release()) == 0 && ok;
        if (!ok) {
            korvane::platform::remove_file(new_name.c_str());
            return false;
        }

        // Memory always reflects the last successful set, whether or not the
        // file or memory held the key before.
        config_value* last = nullptr;
        config_value* found = nullptr;
        for (config_value* entry = first; entry != nullptr; entry = entry->next) {
            last = entry;
            if (keys_match(entry->key.get(), key_text)) {
                found = entry;
                break;
            }
        }
        if (found != nullptr) {
            found->value = std::move(value_copy);
        } else {
            (last == nullptr ? first : last->next) = new_entry.release();
        }

        // The results are not examined: the new file is complete, and a failed
        // rename leaves it beside the old one for the user to find.
        korvane::platform::remove_file(where->file.c_str());
        korvane::platform::rename_file(new_name.c_str(), where->file.c_str());
        return true;
    } catch (...) {
        return false;
    }
}

void config_access::reset() {
    if (config::_instance != nullptr) {
        config::_instance->~config();
        config::_instance = nullptr;
    }
}
