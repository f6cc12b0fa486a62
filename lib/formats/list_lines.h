// Line forms shared by the readers of checksum lists: the digest lines that
// md5sum, the sha*sum tools and rhash write (plain, escaped and BSD), the SFV
// entry test, clear-signed lists, and typing a list by its content (the rules
// themselves are the list types' rows).
#ifndef KORVANE_FORMATS_LIST_LINES_H
#define KORVANE_FORMATS_LIST_LINES_H

#include "status.h"

namespace korvane::detail {

class checksum_stream;

// Where a parsed digest line keeps its parts; the name may have been unescaped
// in place, so it points into the caller's (changed) line.
struct digest_line {
    const wchar_t* digest = nullptr;  // 2 * digest_size hexadecimal digits
    wchar_t* name = nullptr;
    int name_length = 0;
};

// How a digest list's plain lines separate digest and name, as its first such
// line shows: with md5sum's mode marker (' ' or '*') after the blank or tab,
// or without one (BSD `md5 -r`: "DIGEST NAME"), in which case every later
// name is taken whole after the one blank, so that a name may start with a
// blank or '*'.
enum class name_form : int { undecided, marked, whole };

// Parses one line of a digest list for a digest of `digest_size` bytes:
//   DIGEST{space|tab}[ |*]NAME  or  ALG[-BITS]{blanks}(NAME) = DIGEST
// either form may start with '\', whose name then holds \\, \n and \r escapes
// (undone in place; any other escape makes the line invalid). `bsd_name` is
// the algorithm's name in BSD lines ("MD5"), compared ignoring ASCII case;
// BITS, when there, is the digest's length in bits ("BLAKE3-256").
// `form` is the list's; the first plain line settles an undecided one.
// `prefixed` also takes "ALG_DIGEST NAME" as a plain line (newer xxhsum).
bool parse_digest_line(wchar_t* text, int length, int digest_size, const char* bsd_name,
                       digest_line& out, name_form& form, bool prefixed = false);

// Whether the digest list whose BSD name is `bsd_name` is written and read as
// xxhsum's (list_type::line_form::xxhsum), by the row of that name.
bool written_as_xxhsum(const char* bsd_name);

// An SFV entry that a '#' does not make a comment: the line (without its
// trailing blanks) ends in a space and eight hexadecimal digits.
bool ends_in_crc(const wchar_t* text, int length);

// Length of `text` without the blanks, tabs and carriage returns at its end.
int trimmed_length(const wchar_t* text, int length);

// A line that holds no entry and is skipped: nothing but blanks, tabs,
// carriage returns and NUL bytes (a list padded with zeros at its end).
bool is_blank_line(const wchar_t* text, int length);

// Where reading stands in a clear-signed message. A list read from its start
// begins at plain_text, or at before_signed_text when it is known to hold a
// signed message: then only the lines inside the signed text are entries.
enum signed_state : int {
    plain_text = 0,
    signed_headers = 1,
    signed_body = 2,
    signature_block = 3,
    before_signed_text = 4,
    after_signed_text = 5,
};

inline constexpr const char* signed_message_begin = "-----BEGIN PGP SIGNED MESSAGE-----";

enum class signed_part {
    framing,  // the begin line, its Hash: headers, the signature block
    text,     // a line of the list
    outside,  // a line of a signed list before or after the signed text
};

// Follows the framing of a clear-signed message line by line, from `state`
// (a signed_state). A dash-escaped line ("- text") of the signed text is moved
// past its escape.
signed_part unwrap_signed_line(int& state, wchar_t*& text, int& length);

// A list signed with signify and the message embedded: its first line is
// "untrusted comment: ..." and its second the signature in base64 (an
// Ed25519 signature with its key number). When the list at `list` starts so,
// reading is left after those two lines and `found` is true; otherwise it is
// left at the start. The signature itself is not checked.
[[nodiscard]] status skip_signify_lines(checksum_stream& list, bool& found);

// The type a list's first entry line shows, by the content rules of the list
// types (korvane/list_types.h): its number, or -1 when the line fits no type.
int type_of_line(wchar_t* text, int length);

}  // namespace korvane::detail

#endif
