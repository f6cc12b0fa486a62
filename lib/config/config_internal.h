// Pieces of the configuration store that tests reach directly. Not exported.
#ifndef KORVANE_CONFIG_INTERNAL_H
#define KORVANE_CONFIG_INTERNAL_H

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include <korvane/config.h>

namespace korvane::config_detail {

// Where the store lives: `directory` ends in "Korvane/"; `file` is the
// configuration file in it. `parent` is a directory that may have to be made
// first (the ~/.config fallback), empty when the user named the location.
struct location {
    std::string parent;
    std::string directory;
    std::string file;
};

// Longest directory text taken from the environment.
constexpr std::size_t max_directory_length = 989;

// LOCALAPPDATA, else APPDATA, else XDG_CONFIG_HOME, else $HOME/.config. Nothing
// when none of them gives a usable directory.
std::optional<location> find_location();

// Delivers the lines of a configuration file with comments and surrounding
// blanks removed, skipping lines that end up empty. A line longer than
// `max_piece` bytes arrives in pieces, each one a line of its own.
class line_reader {
  public:
    static constexpr int max_piece = 1023;

    explicit line_reader(std::FILE* source) : file(source) {}

    // False at the end of the file or on a read error; see failed().
    bool next(std::string& line);
    bool failed() const { return read_error; }

  private:
    std::FILE* file;
    bool read_error = false;
};

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
};

#endif
