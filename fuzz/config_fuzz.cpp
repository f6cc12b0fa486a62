// The configuration file reader and `set`. Properties: every key/value that
// `set` accepted is read back identically after a reload; a `set` changes no
// other setting, in memory or after a reload; a refused `set` leaves the file
// byte for byte and memory as they were; no ".new" file is left behind; the
// conversions agree with the stored text.
//
// Input: [0] the number of `set` calls (low 2 bits); per call a length byte, the
// key, a length byte, the value; the rest is the configuration file.
#include <korvane/config.h>

#include <cstdint>
#include <string>
#include <vector>

#include "config/config_internal.h"
#include "support.h"

namespace fs = std::filesystem;
using namespace korvane::fuzz;

namespace {

struct setting {
    bool present = false;
    std::string value;
};

bool same_key(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

setting look_up(const config& store, const std::string& key) {
    const char* text = store[key.c_str()];
    FUZZ_CHECK(store.has_key(key.c_str()) == (text != nullptr));
    return text != nullptr ? setting{true, text} : setting{};
}

void check_conversions(const config& store, const std::string& key) {
    const config_value& entry = store[key.c_str()];
    const char* text = entry;
    bool truth = text != nullptr && same_key(text, "true");
    FUZZ_CHECK(static_cast<bool>(entry) == truth);
    unsigned long long expected = 0;
    if (text != nullptr) {
        unsigned __int128 number = 0;
        for (const char* p = text; *p >= '0' && *p <= '9' && number <= ~0ULL; ++p) {
            number = number * 10 + static_cast<unsigned>(*p - '0');
        }
        expected = number <= ~0ULL ? static_cast<unsigned long long>(number) : 0;
    }
    FUZZ_CHECK(static_cast<unsigned long long>(entry) == expected);
}

bool take(const std::uint8_t*& data, std::size_t& size, std::string& out) {
    if (size < 1) {
        return false;
    }
    std::size_t length = data[0];
    ++data;
    --size;
    if (length > size) {
        length = size;
    }
    out.assign(reinterpret_cast<const char*>(data), length);
    // What a C string of these bytes holds.
    out.resize(std::char_traits<char>::length(out.c_str()));
    data += length;
    size -= length;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int calls = data[0] & 3;
    ++data;
    --size;
    std::vector<std::pair<std::string, std::string>> sets;
    for (int i = 0; i < calls; ++i) {
        std::string key;
        std::string value;
        if (!take(data, size, key) || !take(data, size, value)) {
            return 0;
        }
        sets.emplace_back(key, value);
    }
    const std::string contents(reinterpret_cast<const char*>(data), size);
    write_config(nullptr);
    write_file(config_file(), contents);
    config_access::reset();
    config* store = config::instance();

    // The keys to watch: a rough guess at the file's keys, and the keys set.
    std::vector<std::string> keys;
    for (std::size_t start = 0; start < contents.size() && keys.size() < 24;) {
        std::size_t end = contents.find('\n', start);
        if (end == std::string::npos) {
            end = contents.size();
        }
        std::string_view line(contents.data() + start, end - start);
        std::size_t equals = line.find('=');
        if (equals != std::string_view::npos) {
            std::string_view key = line.substr(0, equals);
            while (!key.empty() && static_cast<unsigned char>(key.back()) <= 32) {
                key.remove_suffix(1);
            }
            while (!key.empty() && static_cast<unsigned char>(key.front()) <= 32) {
                key.remove_prefix(1);
            }
            std::string text(key);
            text.resize(std::char_traits<char>::length(text.c_str()));
            keys.push_back(text);
        }
        start = end + 1;
    }
    for (const auto& [key, value] : sets) {
        keys.push_back(key);
    }

    std::vector<setting> expected;
    for (const auto& key : keys) {
        expected.push_back(look_up(*store, key));
        check_conversions(*store, key);
    }

    const fs::path new_file = config_file().string() + ".new";
    for (const auto& [key, value] : sets) {
        const std::string file_before = read_file(config_file());
        bool accepted = store->set(key.c_str(), value.c_str());
        FUZZ_CHECK(!fs::exists(new_file));
        if (accepted) {
            for (std::size_t i = 0; i < keys.size(); ++i) {
                if (same_key(keys[i], key)) {
                    expected[i] = {true, value};
                }
            }
        } else {
            FUZZ_CHECK(read_file(config_file()) == file_before);
        }
        // Memory follows every accepted set and nothing else.
        for (std::size_t i = 0; i < keys.size(); ++i) {
            setting now = look_up(*store, keys[i]);
            FUZZ_CHECK(now.present == expected[i].present && now.value == expected[i].value);
        }
    }

    // The file holds the same: what was set comes back, the rest is unchanged.
    if (!sets.empty()) {
        config_access::reset();
        store = config::instance();
        for (std::size_t i = 0; i < keys.size(); ++i) {
            setting now = look_up(*store, keys[i]);
            FUZZ_CHECK(now.present == expected[i].present);
            FUZZ_CHECK(now.value == expected[i].value);
            check_conversions(*store, keys[i]);
        }
    }
    return 0;
}
