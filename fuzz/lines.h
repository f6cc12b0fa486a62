// Physical lines of a checksum file as the fuzz targets compare them.
#ifndef KORVANE_FUZZ_LINES_H
#define KORVANE_FUZZ_LINES_H

#include <string>
#include <string_view>
#include <vector>

namespace korvane::fuzz {

struct physical_line {
    std::string_view bytes;    // with its line end, if it has one
    std::string_view content;  // without LF or CR LF
    bool has_end = false;
};

inline std::vector<physical_line> split_lines(std::string_view text) {
    std::vector<physical_line> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        physical_line line;
        line.bytes = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        line.has_end = end != std::string_view::npos;
        line.content = line.bytes;
        if (line.has_end) {
            line.content.remove_suffix(1);
            if (!line.content.empty() && line.content.back() == '\r') {
                line.content.remove_suffix(1);
            }
        }
        lines.push_back(line);
        text.remove_prefix(line.bytes.size());
    }
    return lines;
}

// A line the readers see as empty: nothing but carriage returns, since every
// carriage return at the end of a line is dropped when it is read.
inline bool is_blank_line(const physical_line& line) {
    return line.content.find_first_not_of('\r') == std::string_view::npos;
}

// ";K<digit>-": a line of a previously-verified tag of any version.
inline bool is_tag_line(std::string_view content) {
    return content.size() >= 4 && content[0] == ';' && content[1] == 'K' && content[2] >= '0' &&
           content[2] <= '9' && content[3] == '-';
}

// "; <digit>-": a tag line that a rewrite retired in place (its K blanked),
// or a comment that looks like one.
inline bool is_retired_tag_line(std::string_view content) {
    return content.size() >= 4 && content[0] == ';' && content[1] == ' ' && content[2] >= '0' &&
           content[2] <= '9' && content[3] == '-';
}

}  // namespace korvane::fuzz

#endif
