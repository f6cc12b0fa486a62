#include <korvane/digest_list.h>
#include <korvane/md5.h>
#include <korvane/version.h>

#include <cstring>
#include <cwchar>
#include <new>
#include <string>

#include "formats/lines.h"
#include "formats/list_lines.h"
#include "formats/records.h"
#include "formats/settings.h"
#include "formats/spool.h"
#include "formats/stream.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "status.h"

using korvane::status;
using korvane::to_int;

digest_list::digest_list(int size, const char* algorithm)
    : digest_size(size < 1                 ? 1
                  : size > max_digest_size ? max_digest_size
                                           : size),
      bsd_name(algorithm != nullptr ? algorithm : ""),
      lines(korvane::detail::written_as_xxhsum(bsd_name) ? line_style::xxhsum
                                                         : line_style::korvane),
      signed_state(korvane::detail::plain_text) {}

digest_list::~digest_list() = default;

md5::md5() : digest_list(16, "MD5") {}
md5::~md5() = default;
sha1::sha1() : digest_list(20, "SHA1") {}
sha1::~sha1() = default;
sha256::sha256() : digest_list(32, "SHA256") {}
sha256::~sha256() = default;
sha512::sha512() : digest_list(64, "SHA512") {}
sha512::~sha512() = default;
blake3_list::blake3_list() : digest_list(32, "BLAKE3") {
    lines = line_style::b3sum;
}
blake3_list::~blake3_list() = default;

void digest_list::writeRecords(bool on) {
    if (records == nullptr) {
        records.reset(new (std::nothrow) korvane::detail::list_records());
    }
    if (records != nullptr) {
        records->write = on ? 1 : 0;
    }
}

int digest_list::create(const wchar_t* path) {
    creating = 1;
    if (records == nullptr) {
        records.reset(new (std::nothrow) korvane::detail::list_records());
    }
    if (records == nullptr) {
        return to_int(status::unknown_error);
    }
    // b3sum and xxhsum take no line but their entries, and xxhsum reads no
    // line that ends in CR LF.
    const bool bare = lines != line_style::korvane;
    records->writing =
        !bare && (records->write >= 0 ? records->write == 1
                                      : korvane::detail::store_settings().current().write_records);
    int status = createStream(path);
    if (status != 0) {
        return status;
    }
    status = startEntries(path, 1);
    if (status != 0) {
        file.reset();
        return status;
    }
    if (bare) {
        entries->end_lines_with_lf(true);
        return 0;
    }
    std::string header = korvane::detail::header_line(std::string("Korvane ") + g_version);
    // An MD5 list keeps its ';' header; the SHA lists write '#', the one
    // comment that sha*sum --strict -c takes.
    const char comment = std::strcmp(bsd_name, "MD5") != 0 ? '#' : ';';
    header[0] = comment;
    status = writeHeader(header.c_str(), comment);
    if (status != 0) {
        file.reset();
        dropEntries();
    }
    return status;
}

int digest_list::addFile(const wchar_t* name, const void* hashBytes) {
    korvane::platform::file_info info;
    if (writesRecords() && name != nullptr && korvane::platform::get_file_info(name, info) == 0) {
        return addFile(name, hashBytes, info.size, info.write_time);
    }
    return addFile(name, hashBytes, 0, 0);
}

namespace {

bool has_line_break(const char* name) {
    return std::strpbrk(name, "\r\n") != nullptr;
}

// A name with a line break goes in the escaped form md5sum and the sha*sum
// tools write and read: the line starts with a backslash, and the name holds
// "\\" for a backslash, "\n" for a line feed and "\r" for a carriage return.
// Any other name is written as it is (a backslash too, which they read back
// literally from a line that does not start with one).
void entry_line(const file_entry& entry, int, std::string& out) {
    const bool escaped = has_line_break(entry.name);
    if (escaped) {
        out += '\\';
    }
    out += entry.hash_text;
    out += " *";
    if (!escaped) {
        out += entry.name;
        return;
    }
    for (const char* c = entry.name; *c != '\0'; ++c) {
        switch (*c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += *c;
        }
    }
}

// b3sum's line: a name holding a backslash or a line feed makes the line
// start with a backslash and holds "\\" and "\n" for them; a carriage
// return stays as it is, since b3sum reads no escape for it.
void b3sum_entry_line(const file_entry& entry, int, std::string& out) {
    const bool escaped = std::strpbrk(entry.name, "\\\n") != nullptr;
    if (escaped) {
        out += '\\';
    }
    out += entry.hash_text;
    out += "  ";
    for (const char* c = entry.name; *c != '\0'; ++c) {
        if (escaped && *c == '\\') {
            out += "\\\\";
        } else if (*c == '\n') {
            out += "\\n";
        } else {
            out += *c;
        }
    }
}

// xxhsum's BSD line, which every xxhsum reads and which says its algorithm:
// the hash text is the algorithm, a blank and the digest. The name goes as it
// is: no xxhsum line holds a line break, so such a name never comes here.
void xxhsum_line(const file_entry& entry, int, std::string& out) {
    const char* blank = std::strchr(entry.hash_text, ' ');
    out.append(entry.hash_text, static_cast<std::size_t>(blank - entry.hash_text));
    out += " (";
    out += entry.name;
    out += ") = ";
    out += blank + 1;
}

// The record line first, so that it stands right before its entry; none for
// a name in the escaped form, which a record line cannot hold.
void recorded_entry_lines(const file_entry& entry, int stream, std::string& out) {
    if (entry.time != 0 && !has_line_break(entry.name)) {
        korvane::detail::append_digest_record(out, entry.name, entry.size, entry.time);
        out += "\r\n";
    }
    entry_line(entry, stream, out);
}

}  // namespace

int digest_list::addFile(const wchar_t* name, const void* hashBytes, std::uint64_t size,
                         std::uint64_t writeTime) {
    if (name == nullptr || hashBytes == nullptr) {
        return to_int(status::invalid_arguments);
    }
    const bool xxhsum = lines == line_style::xxhsum;
    // Room for the algorithm's name too (a row's, 14 characters at most),
    // which an xxhsum line begins with.
    char text[2 * max_digest_size + 16];
    char* digest_text = text;
    if (xxhsum) {
        const std::size_t name_length = std::strlen(bsd_name);
        std::memcpy(text, bsd_name, name_length);
        text[name_length] = ' ';
        digest_text += name_length + 1;
    }
    korvane::platform::encode_hex(static_cast<const unsigned char*>(hashBytes),
                                  static_cast<std::size_t>(digest_size), digest_text,
                                  korvane::platform::hex_case::lower);
    digest_text[2 * digest_size] = '\0';
    if (entries != nullptr) {
        entries->escape_line_breaks(!xxhsum);
    }
    if (xxhsum) {
        return spoolEntry(name, text, 0, 0, &xxhsum_line);
    }
    const entry_formatter format = lines == line_style::b3sum ? &b3sum_entry_line
                                   : writesRecords()          ? &recorded_entry_lines
                                                              : &entry_line;
    return spoolEntry(name, text, size, writeTime, format);
}

int digest_list::close() {
    if (file == nullptr) {
        return 0;
    }
    if (creating != 0) {
        return commitEntries();
    }
    status result = file->close();
    file.reset();
    return to_int(result);
}

namespace {

// Whether the list holds a clear-signed message anywhere. Known before the
// first entry is delivered, so that lines put in front of the signed text
// are never taken for entries. Looks only at the first bytes of each line.
[[nodiscard]] status holds_signed_message(korvane::detail::checksum_stream& list, bool& found) {
    const std::string_view begin = korvane::detail::signed_message_begin;
    constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
    korvane::detail::raw_line row;
    found = false;
    for (bool first = true;; first = false) {
        status result = list.read_raw_line(row, begin.size() + byte_order_mark.size() + 1);
        if (result != status::ok || !row.found) {
            return result;
        }
        std::string_view text = std::string_view(row.bytes).substr(0, row.length);
        if (first && text.substr(0, byte_order_mark.size()) == byte_order_mark) {
            text.remove_prefix(byte_order_mark.size());
        }
        if (text == begin) {
            found = true;
            return status::ok;
        }
    }
}

}  // namespace

int digest_list::open(const wchar_t* path) {
    creating = 0;
    signed_state = korvane::detail::plain_text;
    startRecords(false);
    int opened = openStream(path, false);
    if (opened != 0) {
        return opened;
    }
    bool signed_message = false;
    bool signify = false;
    status result = holds_signed_message(*file, signed_message);
    if (result == status::ok) {
        result = file->seek(0);
    }
    if (result == status::ok) {
        result = korvane::detail::skip_signify_lines(*file, signify);
    }
    if (result != status::ok) {
        file.reset();
        return to_int(result);
    }
    // An update would break either signature.
    holds_signature = signify;
    if (signed_message) {
        holds_signature = true;
        signed_state = korvane::detail::before_signed_text;
    }
    return 0;
}

int digest_list::getNextFile(wchar_t* name, int nameSize, std::uint64_t* size, void* hashBytes) {
    korvane::detail::digest_line parsed;
    int length;
    settleEntryRecord(nullptr, 0);
    for (;;) {
        length = readEntryLineSkippingComments(size);
        if (length <= 0) {
            return length;
        }
        wchar_t* text = line;
        int text_length = length;
        const korvane::detail::signed_part part =
            korvane::detail::unwrap_signed_line(signed_state, text, text_length);
        if (text_length > 0 && text[0] == L'#' && part != korvane::detail::signed_part::framing) {
            // A comment as md5sum and rhash skip it, or a record; a record
            // outside a signed list's signed text is no one's word.
            const bool trusted = part == korvane::detail::signed_part::text;
            if (const int skipped = noteRecordLine(text, text_length, trusted); skipped != 0) {
                return skipped;
            }
            continue;
        }
        if (part == korvane::detail::signed_part::framing ||
            korvane::detail::is_blank_line(text, text_length) || text[0] == L';') {
            // Framing of a signed list, a line of blanks, or a comment.
            continue;
        }
        auto form = static_cast<korvane::detail::name_form>(file->name_form);
        const bool parsed_ok = korvane::detail::parse_digest_line(
            text, text_length, digest_size, bsd_name, parsed, form, lines == line_style::xxhsum);
        file->name_form = static_cast<int>(form);
        if (part == korvane::detail::signed_part::outside) {
            // Shown by the name it would have, or as it stands; never checked.
            if (!parsed_ok || deliverName(parsed.name, parsed.name_length, name, nameSize) != 0) {
                korvane::detail::copy_fitting(line, length, name, nameSize);
            }
            return to_int(status::outside_signed_text);
        }
        if (parsed_ok) {
            break;
        }
        korvane::detail::copy_fitting(line, length, name, nameSize);  // for the message
        return to_int(status::invalid_line);
    }
    int delivered = deliverName(parsed.name, parsed.name_length, name, nameSize);
    if (delivered != 0) {
        return delivered;
    }
    settleEntryRecord(parsed.name, parsed.name_length);
    if (hashBytes != nullptr) {
        auto* bytes = static_cast<unsigned char*>(hashBytes);
        for (int i = 0; i < digest_size; ++i) {
            bytes[i] =
                static_cast<unsigned char>(korvane::detail::hex_value(parsed.digest[2 * i]) << 4 |
                                           korvane::detail::hex_value(parsed.digest[2 * i + 1]));
        }
    }
    return length;
}

int digest_list::isPreviouslyVerified(const wchar_t*) {
    return 0;
}

int digest_list::setPreviouslyVerified(bool) {
    return 0;
}
