#include "formats/list_lines.h"

#include <korvane/list_types.h>

#include <cstring>
#include <cwchar>
#include <string_view>

#include "formats/base64.h"
#include "formats/lines.h"
#include "formats/stream.h"
#include "platform/text.h"

namespace korvane::detail {

namespace {

bool is_blank_or_tab(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// One lookup per digit: a digest line holds up to 128 of them.
constexpr struct hex_table {
    bool digit[256] = {};
    constexpr hex_table() {
        for (int c = 0; c < 256; ++c) {
            digit[c] = is_hex_digit(static_cast<wchar_t>(c));
        }
    }
} hex_digits;

bool all_hex(const wchar_t* text, int count) {
    bool all = true;
    for (int i = 0; i < count; ++i) {
        // Units above 255 never come from a list, which is read byte by byte.
        all &= hex_digits.digit[static_cast<unsigned>(text[i]) & 0xFF] &&
               static_cast<unsigned>(text[i]) < 256;
    }
    return all;
}

bool starts_with_ignoring_case(const wchar_t* text, int length, const char* prefix) {
    const std::string_view start(prefix);
    return length >= 0 && static_cast<std::size_t>(length) >= start.size() &&
           platform::equal_ignoring_ascii_case(std::wstring_view(text, start.size()), start);
}

bool equals(const wchar_t* text, int length, const char* word) {
    // Most lines differ at once; the framing lines are rare.
    if (length == 0 || text[0] != static_cast<wchar_t>(word[0])) {
        return false;
    }
    int size = static_cast<int>(std::strlen(word));
    if (trimmed_length(text, length) != size) {
        return false;
    }
    for (int i = 0; i < size; ++i) {
        if (text[i] != static_cast<wchar_t>(word[i])) {
            return false;
        }
    }
    return true;
}

// Undoes md5sum's escapes in place. False for an escape it never writes; the
// name is then left as it was, for the message that shows the line.
bool unescape(wchar_t* name, int& length) {
    for (int i = 0; i < length; ++i) {
        if (name[i] == L'\\') {
            if (++i == length || (name[i] != L'\\' && name[i] != L'n' && name[i] != L'r')) {
                return false;
            }
        }
    }
    int out = 0;
    for (int i = 0; i < length; ++i) {
        wchar_t c = name[i];
        if (c == L'\\') {
            ++i;
            c = name[i] == L'n' ? L'\n' : name[i] == L'r' ? L'\r' : L'\\';
        }
        name[out++] = c;
    }
    length = out;
    return true;
}

// Where a BSD line's algorithm ends: after its name, and after a hyphen and
// the digest's length in bits when the line gives one ("BLAKE3-256").
int end_of_bsd_name(const wchar_t* text, int length, int bsd_length, int digest_size) {
    if (bsd_length >= length || text[bsd_length] != L'-') {
        return bsd_length;
    }
    int bits = 0;
    int at = bsd_length + 1;
    for (; at < length && at < bsd_length + 5 && text[at] >= L'0' && text[at] <= L'9'; ++at) {
        bits = bits * 10 + static_cast<int>(text[at] - L'0');
    }
    return at > bsd_length + 1 && bits == 8 * digest_size ? at : bsd_length;
}

}  // namespace

int trimmed_length(const wchar_t* text, int length) {
    while (length > 0 && (is_blank_or_tab(text[length - 1]) || text[length - 1] == L'\r')) {
        --length;
    }
    return length;
}

bool is_blank_line(const wchar_t* text, int length) {
    for (int i = 0; i < length; ++i) {
        if (!is_blank_or_tab(text[i]) && text[i] != L'\r' && text[i] != L'\0') {
            return false;
        }
    }
    return true;
}

bool ends_in_crc(const wchar_t* text, int length) {
    length = trimmed_length(text, length);
    return length >= 10 && text[length - 9] == L' ' && all_hex(text + length - 8, 8);
}

namespace {

// ALG (NAME) = DIGEST, `text` starting after ALG; rhash pads the algorithm's
// name with blanks. The digest is taken from the end, so a name may hold
// ") = " itself.
bool parse_bsd_rest(wchar_t* text, int length, int digits, bool escaped, digest_line& out) {
    int open = 0;
    while (open < length && is_blank_or_tab(text[open])) {
        ++open;
    }
    int end = trimmed_length(text, length);
    int digest_start = end - digits;
    int name_end = digest_start - 4;
    if (open < length && text[open] == L'(' && name_end >= open + 1 &&
        std::wmemcmp(text + name_end, L") = ", 4) == 0 && all_hex(text + digest_start, digits)) {
        out.digest = text + digest_start;
        out.name = text + open + 1;
        out.name_length = name_end - open - 1;
        return !escaped || unescape(out.name, out.name_length);
    }
    return false;
}

// DIGEST, one blank or tab, then md5sum's mode marker (' ' or '*') if there
// is one, then the name.
bool parse_plain(wchar_t* text, int length, int digits, bool escaped, digest_line& out,
                 name_form& form) {
    if (length < digits + 2 || !is_blank_or_tab(text[digits]) || !all_hex(text, digits)) {
        return false;
    }
    int name_start = digits + 1;
    const bool marker = text[name_start] == L' ' || text[name_start] == L'*';
    if (form == name_form::undecided) {
        // As md5sum decides: a name of one unit is never a marker.
        form = marker && length - name_start > 1 ? name_form::marked : name_form::whole;
    }
    if (marker && form == name_form::marked) {
        ++name_start;
    }
    out.digest = text;
    out.name = text + name_start;
    out.name_length = length - name_start;
    return !escaped || unescape(out.name, out.name_length);
}

}  // namespace

bool parse_digest_line(wchar_t* text, int length, int digest_size, const char* bsd_name,
                       digest_line& out, name_form& form, bool prefixed) {
    const bool escaped = length > 0 && text[0] == L'\\';
    if (escaped) {
        ++text;
        --length;
    }
    const int digits = 2 * digest_size;
    const int bsd_length = static_cast<int>(std::strlen(bsd_name));
    if (!starts_with_ignoring_case(text, length, bsd_name)) {
        return parse_plain(text, length, digits, escaped, out, form);
    }
    if (prefixed && length > bsd_length && text[bsd_length] == L'_') {
        // ALG_DIGEST  NAME
        return parse_plain(text + bsd_length + 1, length - bsd_length - 1, digits, escaped, out,
                           form);
    }
    const int open = end_of_bsd_name(text, length, bsd_length, digest_size);
    return parse_bsd_rest(text + open, length - open, digits, escaped, out);
}

bool written_as_xxhsum(const char* bsd_name) {
    for (int index = 0; index < list_type::count(); ++index) {
        const list_type& type = *list_type::at(index);
        if (type.form == list_type::line_form::xxhsum &&
            std::strcmp(type.bsd_name, bsd_name) == 0) {
            return true;
        }
    }
    return false;
}

signed_part unwrap_signed_line(int& state, wchar_t*& text, int& length) {
    switch (state) {
        case plain_text:
        case before_signed_text:
            if (equals(text, length, signed_message_begin)) {
                state = signed_headers;
                return signed_part::framing;
            }
            return state == plain_text ? signed_part::text : signed_part::outside;
        case signed_headers:
            if (starts_with_ignoring_case(text, length, "HASH:")) {
                return signed_part::framing;
            }
            state = signed_body;
            [[fallthrough]];
        case signed_body:
            if (equals(text, length, "-----BEGIN PGP SIGNATURE-----")) {
                state = signature_block;
                return signed_part::framing;
            }
            if (length >= 2 && text[0] == L'-' && text[1] == L' ') {
                text += 2;
                length -= 2;
            }
            return signed_part::text;
        case signature_block:
            if (equals(text, length, "-----END PGP SIGNATURE-----")) {
                state = after_signed_text;
            }
            return signed_part::framing;
        default:
            // Anything after the signature was added by someone the signature
            // does not vouch for; so is a second signed message.
            return signed_part::outside;
    }
}

namespace {

// More than signify lets an untrusted comment hold.
constexpr std::size_t line_capacity_bytes = 2048;

// The physical line `row` holds, without its line end.
std::string_view row_text(const raw_line& row) {
    return std::string_view(row.bytes).substr(0, row.length);
}

// signify's signature line: the base64 of "Ed", an eight-byte key number and
// a 64-byte signature, nothing else on the line.
bool is_signify_signature(std::string_view text) {
    constexpr std::size_t signature_bytes = 2 + 8 + 64;
    constexpr std::size_t encoded = (signature_bytes + 2) / 3 * 4;
    if (text.size() != encoded || text.back() != '=' || text[encoded - 2] == '=') {
        return false;
    }
    unsigned char bytes[signature_bytes + 3];
    const std::size_t decoded = base64_decode(text, bytes, sizeof bytes);
    return decoded == signature_bytes && bytes[0] == 'E' && bytes[1] == 'd' &&
           text.find_first_of(" \t") == std::string_view::npos;
}

}  // namespace

status skip_signify_lines(checksum_stream& list, bool& found) {
    constexpr std::string_view comment = "untrusted comment: ";
    constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
    found = false;
    raw_line first;
    raw_line second;
    status result = list.read_raw_line(first, line_capacity_bytes);
    if (result == status::ok && first.found) {
        result = list.read_raw_line(second, line_capacity_bytes);
    }
    if (result != status::ok) {
        return result;
    }
    std::string_view head = row_text(first);
    if (head.substr(0, byte_order_mark.size()) == byte_order_mark) {
        head.remove_prefix(byte_order_mark.size());
    }
    found = first.has_end && second.has_end && first.length < line_capacity_bytes &&
            head.substr(0, comment.size()) == comment && is_signify_signature(row_text(second));
    return found ? status::ok : list.seek(0);
}

namespace {

// Whether a line is an entry of the given type, by its content rule.
bool fits(const list_type& type, wchar_t* text, int length) {
    if (type.form == list_type::line_form::crc) {
        return ends_in_crc(text, length);
    }
    digest_line parsed;
    name_form form = name_form::undecided;
    return parse_digest_line(text, length, type.digest_size, type.bsd_name, parsed, form,
                             type.form == list_type::line_form::xxhsum);
}

}  // namespace

int type_of_line(wchar_t* text, int length) {
    // The forms in the order line_form gives, the rows in table order.
    for (const list_type::line_form form :
         {list_type::line_form::digest, list_type::line_form::xxhsum, list_type::line_form::crc}) {
        for (int index = 0; index < list_type::count(); ++index) {
            const list_type& type = *list_type::at(index);
            if (type.form == form && fits(type, text, length)) {
                return index;
            }
        }
    }
    return -1;
}

}  // namespace korvane::detail
