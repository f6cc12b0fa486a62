#include <korvane/sfv.h>
#include <korvane/version.h>

#include <cstring>
#include <string>

#include "formats/lines.h"
#include "formats/list_lines.h"
#include "formats/settings.h"
#include "formats/stream.h"
#include "formats/update.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "status.h"

using korvane::status;
using korvane::to_int;
using korvane::detail::append_number;

namespace {

using korvane::platform::is_ascii_space;

// A name that the reading rules would change: one that starts with a quote, a
// ';' or a '#' (read as a comment) or ends in a blank (stripped). Written in
// quotes, it reads back whole, as other tools write such names.
bool needs_quotes(const char* name) {
    std::size_t length = std::strlen(name);
    return length > 0 &&
           (name[0] == '"' || name[0] == ';' || name[0] == '#' ||
            is_ascii_space(static_cast<wchar_t>(static_cast<unsigned char>(name[length - 1]))));
}

// The checksum text read the way strtoul reads base 16 with a 32-bit unsigned
// long: blanks, a sign and a "0x" may lead; a value too large gives all ones.
std::uint32_t parse_checksum(const wchar_t* text, const wchar_t* end) {
    while (text < end && is_ascii_space(*text)) {
        ++text;
    }
    bool negative = false;
    if (text < end && (*text == L'+' || *text == L'-')) {
        negative = *text == L'-';
        ++text;
    }
    if (end - text >= 3 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X') &&
        korvane::detail::is_hex_digit(text[2])) {
        text += 2;
    }
    std::uint64_t value = 0;
    bool overflow = false;
    for (; text < end && korvane::detail::is_hex_digit(*text); ++text) {
        value = value * 16 + korvane::detail::hex_value(*text);
        if (value > 0xFFFFFFFFULL) {
            overflow = true;
            value = 0xFFFFFFFFULL;
        }
    }
    if (overflow) {
        return 0xFFFFFFFFU;
    }
    auto result = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0U - result) : result;
}

// What every SFV writer puts after the name: eight hexadecimal digits. Other
// fields are read as strtoul reads them, which may not be what the writer
// meant, so they are worth a warning.
bool is_regular_checksum(const wchar_t* text, int length) {
    if (length != 8) {
        return false;
    }
    for (int i = 0; i < length; ++i) {
        if (!korvane::detail::is_hex_digit(text[i])) {
            return false;
        }
    }
    return true;
}

// The name in line[0, end): the blanks before the checksum dropped, and the
// quotes around a name that has them.
void name_bounds(const wchar_t* line, int& start, int& end) {
    while (end > 0 && is_ascii_space(line[end - 1])) {
        --end;
    }
    start = 0;
    if (end > 0 && line[0] == L'"') {
        start = 1;
        if (end > 1 && line[end - 1] == L'"') {
            --end;
        }
    }
}

// The lines of one entry: its comment line (size, time and name) and its
// entry line. All comment lines come first in the list, as other tools
// expect.
void entry_lines(const file_entry& entry, int stream, std::string& out) {
    if (stream == 0) {
        out += "; ";
        append_number(out, entry.size, 12);
        out += "  ";
        korvane::detail::append_file_time(out, entry.time);
        out += ' ';
        out += entry.name;
    } else if (needs_quotes(entry.name)) {
        out += '"';
        out += entry.name;
        out += "\" ";
        out += entry.hash_text;
    } else {
        out += entry.name;
        out += ' ';
        out += entry.hash_text;
    }
}

}  // namespace

sfv::sfv()
    : container(),
      verified_bits{},
      tag_rejected(false),
      tag_changed(false),
      bit_index(0),
      bit_mask(128),
      tag_time(0),
      tag_found(false),
      tag_disabled(false),
      stamp_time(0),
      tag_left_unwritten(false) {}

sfv::~sfv() = default;

void sfv::resetTag() {
    std::memset(verified_bits, 0, sizeof verified_bits);
    tag_rejected = false;
    tag_changed = false;
    bit_index = 0;
    bit_mask = 128;
    tag_time = 0;
    tag_found = false;
    tag_disabled = false;
    stamp_time = 0;
}

int sfv::create(const wchar_t* path) {
    korvane::detail::store_settings store;
    return create(path, store);
}

int sfv::create(const wchar_t* path, korvane::detail::settings_source& settings) {
    resetTag();
    int status = createStream(path);
    if (status != 0) {
        return status;
    }
    creating = 1;
    status = startEntries(path, 2);
    if (status != 0) {
        file.reset();
        return status;
    }
    std::string version = g_version;
    bool compatible = settings.current().compatible_header;
    std::string maker = compatible ? "WIN-SFV32 v1.1a (Korvane " + version + " Compatibility Mode)"
                                   : "Korvane " + version;
    status = writeHeader(korvane::detail::header_line(maker).c_str());
    if (status != 0) {
        file.reset();
        dropEntries();
    }
    return status;
}

int sfv::addFile(const wchar_t* name, const void* hashBytes) {
    korvane::platform::file_info info;
    if (name != nullptr && korvane::platform::get_file_info(name, info) == 0) {
        return addFile(name, hashBytes, info.size, info.write_time);
    }
    return addFile(name, hashBytes, 0, 0);
}

int sfv::addFile(const wchar_t* name, const void* hashBytes, std::uint64_t size,
                 std::uint64_t writeTime) {
    if (name == nullptr || hashBytes == nullptr) {
        return to_int(status::invalid_arguments);
    }
    std::uint32_t value;
    std::memcpy(&value, hashBytes, sizeof value);
    char text[9];
    korvane::platform::encode_hex32(value, text, korvane::platform::hex_case::upper);
    text[8] = '\0';
    return spoolEntry(name, text, size, writeTime, &entry_lines);
}

int sfv::close() {
    korvane::detail::store_settings store;
    return close(store);
}

int sfv::close(korvane::detail::settings_source& settings) {
    if (file == nullptr) {
        return 0;
    }
    if (creating == 0) {
        return writeTag(settings);
    }
    return commitEntries();
}

int sfv::open(const wchar_t* path) {
    korvane::detail::store_settings store;
    return open(path, store);
}

int sfv::open(const wchar_t* path, korvane::detail::settings_source& settings) {
    resetTag();
    creating = 0;
    startRecords(true);
    int opened = openStream(path, false);
    if (opened != 0) {
        return opened;
    }
    readTag(settings);
    if (file->utf16()) {
        // A tag in UTF-8 would damage the list: none is trusted or written.
        tag_disabled = true;
    }
    status result = file->seek(0);
    if (result != status::ok) {
        file.reset();
    }
    return to_int(result);
}

int sfv::getNextFile(wchar_t* name, int nameSize, std::uint64_t* size, void* hashBytes) {
    settleEntryRecord(nullptr, 0);
    if (file != nullptr) {
        file->irregular_line = 0;
    }
    int length;
    int end;  // the line without the blanks and carriage returns after the checksum
    for (;;) {
        length = readEntryLineSkippingComments(size);
        if (length <= 0) {
            return length;
        }
        end = korvane::detail::trimmed_length(line, length);
        // '#' starts a comment for most tools, but a name may start with it too:
        // a line that ends in a checksum stays an entry.
        if (!korvane::detail::is_blank_line(line, end) &&
            (line[0] != L'#' || korvane::detail::ends_in_crc(line, end))) {
            break;
        }
    }

    int space = end - 1;
    while (space >= 0 && line[space] != L' ') {
        --space;
    }
    if (space < 0 || end - space - 1 >= 255) {
        korvane::detail::copy_fitting(line, length, name, nameSize);  // for the message
        return to_int(status::invalid_line);
    }
    std::uint32_t value = parse_checksum(line + space + 1, line + end);

    int name_start = 0;
    int name_end = space;
    name_bounds(line, name_start, name_end);
    int delivered = deliverName(line + name_start, name_end - name_start, name, nameSize);
    if (delivered != 0) {
        return delivered;
    }
    if (hashBytes != nullptr) {
        std::memcpy(hashBytes, &value, sizeof value);
    }
    if (!is_regular_checksum(line + space + 1, end - space - 1)) {
        file->irregular_line = file->line_number();
    }
    settleEntryRecord(line + name_start, name_end - name_start);
    if (update != nullptr) {
        carryTagEntry();
    }
    return length;
}
