// Pieces of the configuration store that tests reach directly. Not exported.
#ifndef KORVANE_CONFIG_INTERNAL_H
#define KORVANE_CONFIG_INTERNAL_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <korvane/config.h>

namespace korvane::config_detail {

// Where the store lives: `directory` ends in "Korvane/"; `file` is the
// configuration file in it. `parent` is a directory that may have to be made
// first (the ~/.config fallback), empty when the user named the location.
struct location {
    std::string parent;  // made when missing (its own parent must exist)
    std::string directory;
    std::string file;
    bool make_ancestors = false;  // the parent's missing ancestors are made too
};

// Longest directory text taken from the environment.
constexpr std::size_t max_directory_length = 989;

// LOCALAPPDATA, else APPDATA, else XDG_CONFIG_HOME, else $HOME/.config. Nothing
// when none of them gives a usable directory.
std::optional<location> find_location();

// The largest configuration file read; a larger one counts as unreadable.
constexpr std::size_t max_file_size = 1024 * 1024;

// Delivers the lines of a configuration file's text with comments and
// surrounding blanks removed, skipping lines that end up empty. A line longer
// than `max_piece` bytes arrives in pieces, each one a line of its own; text
// after a zero byte in a piece is not part of it.
class line_reader {
  public:
    static constexpr int max_piece = 1023;

    explicit line_reader(std::string_view source) : text(source) {}

    // False at the end of the text.
    bool next(std::string& line);

  private:
    std::string_view text;
    std::size_t at = 0;
};

// Says on standard error why nothing is saved in `folder`.
void report_unsafe_folder(const std::string& folder);

// Cuts a comment (an unquoted ';') off and trims blanks (bytes 1 to 32).
std::string_view clean_line(std::string_view raw);

// Splits a cleaned line at its first '='. False when the line has none.
bool split_setting(std::string_view line, std::string_view& key, std::string_view& value);

// Key comparison: ASCII letters fold, every other byte compares as itself.
bool keys_match(std::string_view a, std::string_view b);

}  // namespace korvane::config_detail

// Test access to the singleton: drops the loaded store so that the next
// config::instance() reads the file again.
struct config_access {
    static void reset();
    // Stores `value` under `key` unless the file already holds the key, in
    // which case memory takes the file's value: of processes racing to store
    // the first value, the first writer wins and the others read it back.
    [[nodiscard]] static bool set_unless_present(const char* key, const char* value);

    static const char* key_of(const config_value* entry);

    // True when the store's folder belongs to the user and only the user may
    // change it, or does not exist yet; otherwise says why on standard error.
    static bool folder_is_private();

    // config::set, and set_unless_present with `unless_present`.
    [[nodiscard]] static bool store(config& self, const char* key, const char* value,
                                    bool unless_present);
    // The entry whose key matches `key`, or null; `last` (when given) is then
    // the list's last entry, null for an empty list.
    static config_value* find(const config& self, std::string_view key, config_value** last);
    // Links `entry` in after `last` (first when null) and returns it.
    static config_value* append(config& self, config_value* last,
                                std::unique_ptr<config_value> entry);
    // Puts a stored value into memory.
    static void remember(config& self, std::string_view key, std::unique_ptr<char[]> value,
                         std::unique_ptr<config_value> entry);
};

#endif
