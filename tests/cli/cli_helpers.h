// Shared expectations of the end-to-end tests.
#ifndef KORVANE_TESTS_CLI_HELPERS_H
#define KORVANE_TESTS_CLI_HELPERS_H

#include <sstream>
#include <string>
#include <vector>

namespace korvane::testing {

// The lines of a checksum file that are not comments, without their line ends.
inline std::vector<std::string> entry_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        // Comments: ';' lines, and the "#" header lines of digest lists.
        const bool header = line == "#" || line.rfind("# ", 0) == 0;
        if (!line.empty() && line[0] != ';' && !header) {
            lines.push_back(line);
        }
    }
    return lines;
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Known digests.
inline const std::string crc_123456789 = "CBF43926";
inline const std::string crc_abc = "352441C2";
inline const std::string md5_abc = "900150983cd24fb0d6963f7d28e17f72";
inline const std::string md5_empty = "d41d8cd98f00b204e9800998ecf8427e";

}  // namespace korvane::testing

#endif
