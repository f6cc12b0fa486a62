// The update of an existing list: its lines copied to a new file as they
// stand, but for the entries the caller replaces or drops and the entries it
// adds, and the new file put in place of the old one only when complete and
// only while the old one is still as it was read.
#ifndef KORVANE_FORMATS_UPDATE_H
#define KORVANE_FORMATS_UPDATE_H

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "formats/spool.h"
#include "formats/stream.h"
#include "status.h"

namespace korvane::detail {

// What becomes of one entry line: dropped, or replaced by `length` bytes of
// the update's texts from `text` on.
struct line_edit {
    std::uint64_t position;  // where reading stood before the entry's line
    std::uint64_t text;
    std::uint64_t length;
    bool drop;
};

// A name whose old record lines go. A type of the library's own, so that
// the containers of it stay out of the exported symbols.
struct unrecorded_name {
    std::string bytes;
    bool operator<(const unrecorded_name& other) const { return bytes < other.bytes; }
};

// SFV: the old list's tag, carried into the new one when a verification
// would still trust it here. Its bits go with their entries: kept entries
// keep theirs, a dropped entry's goes (later bits move up), replaced and
// added entries are unmarked. The time and the signature stay as they were,
// so that each bit still says what it said: verified then, unchanged since.
struct carried_tag {
    bool settled = false;  // whether the tag is carried was decided
    bool carried = false;
    std::string head;                 // the signature line and the time line
    std::vector<unsigned char> bits;  // the old tag's bits, one per entry read
    // Where each entry read starts, in the order read; as many as bits
    // can be counted for.
    std::vector<std::uint64_t> positions;
};

struct list_update {
    bool sfv = false;  // SFV: record comment lines before the entries, a tag at the end
    bool lf = false;   // the list ends its lines with LF alone
    std::vector<line_edit> edits;
    std::string texts;        // the replacing entry lines
    std::string new_records;  // SFV: the record lines of replaced entries
    // SFV: the names (as the list's bytes) whose old record lines go.
    // Sorted by write_update before it looks names up.
    std::vector<unrecorded_name> unrecorded;
    std::uint64_t first_entry = std::numeric_limits<std::uint64_t>::max();
    bool replacing = false;  // the next spooled entry replaces the one at `replace_at`
    std::uint64_t replace_at = 0;
    carried_tag tag;
};

// Writes the updated list: every line of `old` (read from its start) as it
// stands, the edits applied, the old SFV tag's lines left out, and the added
// entries of `added`: an SFV list's record lines before its first entry, entry
// lines at the end, and after them the carried tag with its bits moved along
// with their entries (none when no bit is left, or when an edit names no
// entry read). Then puts it in place of the old list, unless that changed
// since it was read (list_changed). `old` is the list opened for reading; it
// must be its user's own regular file.
[[nodiscard]] status write_update(checksum_stream& old, list_update& update, entry_spool& added);

// Whether the list read by `list` ends its first line with LF alone.
[[nodiscard]] status ends_lines_with_lf(checksum_stream& list, bool& lf);

}  // namespace korvane::detail

#endif
