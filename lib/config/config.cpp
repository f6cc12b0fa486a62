#include <korvane/config.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "config/config_internal.h"
#include "platform/console.h"
#include "platform/env.h"
#include "platform/file.h"
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

}  // namespace

void report_unsafe_folder(const std::string& folder) {
    // Said once per run: every later attempt fails the same way.
    static bool said = false;
    if (said) {
        return;
    }
    said = true;
    std::wstring text = platform::widen(folder);
    text += L": not a private folder of this user; no settings or tags are saved\n";
    platform::console_write(platform::console_stream::err, text);
}

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
        if (base) {
            // XDG asks that a missing destination folder be made,
            // mode 0700, as ~/.config is.
            where.parent = *base;
            where.make_ancestors = true;
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
    return platform::equal_ignoring_ascii_case(a, b);
}

bool line_reader::next(std::string& line) {
    while (at < text.size()) {
        // A piece ends after a line feed or after max_piece bytes.
        std::size_t length = std::min<std::size_t>(max_piece, text.size() - at);
        std::size_t feed = text.find('\n', at);
        if (feed != std::string_view::npos && feed - at < length) {
            length = feed - at + 1;
        }
        std::string_view piece = text.substr(at, length);
        at += length;
        piece = piece.substr(0, piece.find('\0'));
        std::string_view cleaned = clean_line(piece);
        if (!cleaned.empty()) {
            line.assign(cleaned);
            return true;
        }
    }
    return false;
}

std::size_t folded_hash(std::string_view key) {
    std::size_t hash = 14695981039346656037ULL & ~std::size_t{0};
    for (char c : key) {
        hash = (hash ^ static_cast<unsigned char>(platform::ascii_lower(c))) * 1099511628211ULL;
    }
    return hash;
}

// The entries read so far by their keys, folded: loading stays linear in the
// number of lines. Open addressing over a table kept at most half full.
class key_index {
  public:
    config_value** find(std::string_view key, const char* (*key_of)(const config_value*)) {
        if (slots.empty()) {
            return nullptr;
        }
        std::size_t mask = slots.size() - 1;
        for (std::size_t i = folded_hash(key) & mask;; i = (i + 1) & mask) {
            if (slots[i] == nullptr) {
                return &slots[i];
            }
            if (keys_match(key_of(slots[i]), key)) {
                return &slots[i];
            }
        }
    }
    bool full() const { return 2 * (count + 1) > slots.size(); }
    void grow(const char* (*key_of)(const config_value*)) {
        std::vector<config_value*> old = std::move(slots);
        slots.assign(old.empty() ? 64 : old.size() * 2, nullptr);
        count = 0;
        for (config_value* entry : old) {
            if (entry != nullptr) {
                *find(key_of(entry), key_of) = entry;
                ++count;
            }
        }
    }
    void added() { ++count; }

  private:
    std::vector<config_value*> slots;
    std::size_t count = 0;
};

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
    // Only a regular file of bounded size: a FIFO or device planted in its
    // place must not block or flood the program.
    std::string bytes;
    if (korvane::platform::read_small_file(where->file.c_str(), max_file_size, bytes) != 0) {
        return;
    }
    try {
        line_reader reader(bytes);
        key_index index;
        auto key_of = [](const config_value* entry) -> const char* {
            return config_access::key_of(entry);
        };
        config_value* last = nullptr;
        std::string line;
        while (reader.next(line)) {
            std::string_view key;
            std::string_view value;
            if (!split_setting(line, key, value)) {
                continue;
            }
            auto key_copy = copy_text(key);
            auto value_copy = copy_text(value);
            if (!key_copy || !value_copy) {
                break;  // out of memory: keep what was read so far
            }
            if (index.full()) {
                index.grow(key_of);
            }
            config_value** slot = index.find(key, key_of);
            if (*slot != nullptr) {
                // A later line for the same key wins, letter case of its key included.
                (*slot)->key = std::move(key_copy);
                (*slot)->value = std::move(value_copy);
                continue;
            }
            std::unique_ptr<config_value> entry(new (std::nothrow) config_value(nullptr, nullptr));
            if (entry == nullptr) {
                break;
            }
            entry->key = std::move(key_copy);
            entry->value = std::move(value_copy);
            last = config_access::append(*this, last, std::move(entry));
            *slot = last;
            index.added();
        }
    } catch (...) {
        // Out of memory while reading: the entries read so far stay.
    }
}

config::~config() {
    // Iteratively, so that no list length can exhaust the stack: each step
    // frees one entry whose link has already been taken from it.
    while (first != nullptr) {
        first = std::move(first->next);
    }
}

const config_value& config::operator[](const char* key) const {
    static const config_value missing(nullptr, nullptr);
    if (key == nullptr) {
        return missing;
    }
    const config_value* entry = config_access::find(*this, key, nullptr);
    return entry != nullptr ? *entry : missing;
}

bool config::has_key(const char* key) const {
    return static_cast<const char*>((*this)[key]) != nullptr;
}

namespace {

// Whether key=value comes back as the same single setting on the next load.
bool survives_reload(std::string_view key_text, std::string_view value_text) {
    // The setting must come back as the same single line: a line break would
    // forge further settings, an '=' in the key would split elsewhere, and a
    // line longer than one read piece would be cut in two on the next load.
    if (key_text.find_first_of("=\r\n") != std::string_view::npos ||
        value_text.find_first_of("\r\n") != std::string_view::npos ||
        key_text.size() + 1 + value_text.size() > line_reader::max_piece) {
        return false;
    }
    // Nor may the line read back as another setting: blanks at either end,
    // a ';' that starts a comment or a value wrapped in quotes would be
    // lost on the next load, and the caller told the setting was kept.
    std::string line;
    line.append(key_text).append("=").append(value_text);
    std::string_view read_key;
    std::string_view read_value;
    return split_setting(clean_line(line), read_key, read_value) && read_key == key_text &&
           read_value == value_text;
}

// Says once per run that the settings folder could not be made: every later
// attempt fails the same way, and without the folder no tag is ever written.
void report_missing_folder(const std::string& folder) {
    static bool said = false;
    if (said) {
        return;
    }
    said = true;
    std::wstring text = korvane::platform::widen(folder);
    text += L": the settings folder cannot be made; no settings or tags are saved\n";
    korvane::platform::console_write(korvane::platform::console_stream::err, text);
}

// Makes `folder` when missing, and with `ancestors` every missing folder
// above it first (each mode 0700); 0 or the error of the last one.
[[nodiscard]] int make_folder(const std::string& folder, bool ancestors) {
    if (ancestors) {
        for (std::size_t at = folder.find('/', 1);
             at != std::string::npos && at + 1 < folder.size(); at = folder.find('/', at + 1)) {
            (void)korvane::platform::make_directory(folder.substr(0, at).c_str());
        }
    }
    int error = korvane::platform::make_directory(folder.c_str());
    return error == korvane::platform::error_exists ? 0 : error;
}

// Makes the settings folder (and its parent) when missing; false unless it
// ends up private to this user.
[[nodiscard]] bool ready_private_folder(const location& where) {
    if (!where.parent.empty() && make_folder(where.parent, where.make_ancestors) != 0) {
        report_missing_folder(where.parent);
        return false;
    }
    if (make_folder(where.directory, false) != 0) {
        report_missing_folder(where.directory);
        return false;
    }
    // A folder that others may change could swap the file under us, or
    // hand us a signature of theirs.
    std::string folder = where.directory;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (korvane::platform::check_private_directory(folder.c_str()) != 0) {
        report_unsafe_folder(folder);
        return false;
    }
    return true;
}

// The file's settings with the key's first line replaced by setting (or
// setting appended) and later lines for the key dropped. With unless_present,
// a line for the key stops the merge: true, and its value in theirs.
bool merge_setting(const std::string& old_bytes, std::string_view key_text,
                   const std::string& setting, bool unless_present, std::string& contents,
                   std::string& theirs) {
    bool written = false;
    line_reader reader(old_bytes);
    std::string line;
    while (reader.next(line)) {
        std::string_view line_key;
        std::string_view line_value;
        if (split_setting(line, line_key, line_value) && keys_match(line_key, key_text)) {
            if (unless_present) {
                theirs.assign(line_value);
                return true;
            }
            if (!written) {
                contents.append(setting);
                written = true;
            }
            continue;  // later lines for the key are dropped
        }
        contents.append(line).append("\n");
    }
    if (!written) {
        contents.append(setting);
    }
    return false;
}

// A new file under an unpredictable name, made durable and renamed over
// the old one: a crash leaves the old file or the new one, never none.
[[nodiscard]] bool replace_file(const std::string& file, const std::string& contents) {
    const std::wstring target = korvane::platform::widen(file);
    korvane::platform::native_file new_file;
    std::wstring temp;
    if (new_file.create_beside(target.c_str(), temp) != 0) {
        return false;
    }
    bool ok = new_file.write_all(contents.data(), contents.size()) == 0 && new_file.sync() == 0;
    ok = new_file.close() == 0 && ok;
    ok = ok && korvane::platform::rename_file(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        // The store fails either way; a leftover has an unpredictable name
        // and never replaced the configuration.
        (void)korvane::platform::remove_file(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace

bool config::set(const char* key, const char* value) {
    return config_access::store(*this, key, value, false);
}

bool config_access::store(config& self, const char* key, const char* value, bool unless_present) {
    if (key == nullptr || value == nullptr) {
        return false;
    }
    const std::string_view key_text(key);
    const std::string_view value_text(value);
    if (!survives_reload(key_text, value_text)) {
        return false;
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
        if (!ready_private_folder(*where)) {
            return false;
        }
        // One writer at a time: the rewrite starts from what is on disk.
        korvane::platform::file_lock lock;
        if (lock.acquire((where->directory + "korvane.lock").c_str()) != 0) {
            return false;
        }

        std::string setting;
        setting.append(key_text).append("=").append(value_text).append("\n");
        std::string old_bytes;
        int error =
            korvane::platform::read_small_file(where->file.c_str(), max_file_size, old_bytes);
        if (error != 0 && error != korvane::platform::error_not_found) {
            // A file that exists but cannot be read is not rewritten from nothing.
            return false;
        }
        std::string contents;
        std::string theirs;
        if (merge_setting(old_bytes, key_text, setting, unless_present, contents, theirs)) {
            // Someone else stored it first: theirs is the value.
            value_copy = copy_text(theirs);
            new_entry->value = copy_text(theirs);
            if (!value_copy || !new_entry->value) {
                return false;
            }
            remember(self, key_text, std::move(value_copy), std::move(new_entry));
            return true;
        }
        if (!replace_file(where->file, contents)) {
            return false;
        }
        remember(self, key_text, std::move(value_copy), std::move(new_entry));
        return true;
    } catch (...) {
        return false;
    }
}

void config_access::remember(config& self, std::string_view key, std::unique_ptr<char[]> value,
                             std::unique_ptr<config_value> entry) {
    // Memory always reflects the last successful set, whether or not the file
    // or memory held the key before.
    config_value* last = nullptr;
    if (config_value* existing = find(self, key, &last); existing != nullptr) {
        existing->value = std::move(value);
        return;
    }
    append(self, last, std::move(entry));
}

config_value* config_access::append(config& self, config_value* last,
                                    std::unique_ptr<config_value> entry) {
    std::unique_ptr<config_value>& link = last == nullptr ? self.first : last->next;
    link = std::move(entry);
    return link.get();
}

config_value* config_access::find(const config& self, std::string_view key, config_value** last) {
    for (config_value* entry = self.first.get(); entry != nullptr; entry = entry->next.get()) {
        if (keys_match(entry->key.get(), key)) {
            return entry;
        }
        if (last != nullptr) {
            *last = entry;
        }
    }
    return nullptr;
}

const char* config_access::key_of(const config_value* entry) {
    return entry->key.get();
}

bool config_access::folder_is_private() {
    auto where = find_location();
    if (!where) {
        return false;
    }
    std::string folder = where->directory;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    int error = korvane::platform::check_private_directory(folder.c_str());
    if (error == korvane::platform::error_not_found) {
        return true;  // made private when the first setting is stored
    }
    if (error != 0) {
        report_unsafe_folder(folder);
        return false;
    }
    return true;
}

bool config_access::set_unless_present(const char* key, const char* value) {
    return store(*config::instance(), key, value, true);
}

void config_access::reset() {
    if (config::_instance != nullptr) {
        config::_instance->~config();
        config::_instance = nullptr;
    }
}
