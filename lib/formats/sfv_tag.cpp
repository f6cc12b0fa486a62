// The previously-verified tag: comment lines at the end of an SFV file that
// hold one bit per entry, tied to this installation's signature and stamped
// with the time of the run that wrote them.
#include <korvane/sfv.h>
#include <korvane/sha.h>
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "formats/base64.h"
#include "formats/settings.h"
#include "formats/stream.h"
#include "formats/tag.h"
#include "formats/update.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/interrupt.h"
#include "status.h"

namespace korvane::detail {

namespace platform = korvane::platform;

std::uint64_t expiry_ticks(const char* text) {
    if (text == nullptr) {
        return 0;
    }
    std::uint64_t seconds = 0;
    const char* p = text;
    while (*p != '\0') {
        while (*p != '\0' && (*p < '0' || *p > '9')) {
            ++p;
        }
        if (*p == '\0') {
            break;
        }
        std::uint64_t number = 0;
        while (*p >= '0' && *p <= '9') {
            number = saturating_add(saturating_multiply(number, 10),
                                    static_cast<std::uint64_t>(*p - '0'));
            ++p;
        }
        if (*p == '\0') {
            break;  // a number without a unit counts for nothing
        }
        std::uint64_t unit = 0;
        switch (*p | 0x20) {
            case 'd':
                unit = 86400;
                break;
            case 'h':
                unit = 3600;
                break;
            case 'm':
                unit = 60;
                break;
            case 's':
                unit = 1;
                break;
            default:
                break;
        }
        ++p;
        seconds = saturating_add(seconds, saturating_multiply(number, unit));
    }
    return saturating_multiply(seconds, 10000000ULL);
}

std::string folder_code(std::uint64_t device, std::uint64_t inode, std::wstring_view canonical) {
    sha256hasher digest;
    digest.init();
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(device >> (8 * i));
        bytes[8 + i] = static_cast<unsigned char>(inode >> (8 * i));
    }
    digest.update(bytes, sizeof bytes);
    for (wchar_t unit : canonical) {
        auto value = static_cast<std::uint32_t>(unit);
        unsigned char four[4];
        for (int i = 0; i < 4; ++i) {
            four[i] = static_cast<unsigned char>(value >> (8 * i));
        }
        digest.update(four, sizeof four);
    }
    digest.finalize();
    const auto* hash = static_cast<const unsigned char*>(digest.hash());
    static const char digits[] = "0123456789ABCDEF";
    std::string code = "/";
    for (int i = 0; i < 16; ++i) {
        code += digits[hash[i] >> 4];
        code += digits[hash[i] & 0xF];
    }
    return code;
}

void resolve_name_folder(const wchar_t* folder, name_folder& out) {
    out.resolved = true;
    out.expected.clear();
    out.keeps_change_time = false;
    // The folder as it is now, links followed: its identity and its path.
    platform::file_info info{};
    std::wstring canonical;
    if (platform::get_file_info(folder, info) != 0 || !info.is_directory ||
        platform::canonical_path(folder, canonical) != 0) {
        return;
    }
    // "dir/" and "dir" are one folder; Windows keeps a trailing separator.
    platform::strip_trailing_separators(canonical);
    platform::file_system_info system;
    if (platform::get_file_system(folder, system) != 0) {
        system = platform::file_system_info{};
    }
    try {
        out.expected = folder_code(info.device, info.inode, canonical);
    } catch (const std::bad_alloc&) {
        return;  // unidentified: nothing trusted, nothing written
    }
    out.device = info.device;
    out.keeps_change_time = system.keeps_change_time;
    out.file_system = std::move(system.name);
}

void encode_tag_bits(std::string& tag, const unsigned char* bits, std::size_t count) {
    for (std::size_t done = 0; done < count; done += tag_bits_per_line) {
        std::size_t take = count - done < tag_bits_per_line ? count - done : tag_bits_per_line;
        tag += ";K2-";
        base64_encode(bits + done, tag, take);
        tag += "\r\n";
    }
}

int tag_version(std::string_view line) {
    if (line.size() >= 4 && line[0] == ';' && line[1] == 'K' && line[2] >= '0' && line[2] <= '9' &&
        line[3] == '-') {
        return line[2] - '0';
    }
    return -1;
}

}  // namespace korvane::detail

namespace {

using korvane::status;
using korvane::detail::raw_line;
using korvane::detail::tag_version;

// A tag line as other readers take it: 511 characters at most.
constexpr std::size_t longest_tag_line = 511;
constexpr std::uint64_t stamp_margin = 2 * 10000000ULL;

std::string_view content_of(const raw_line& line) {
    return std::string_view(line.bytes).substr(0, line.length);
}

// The next line that is not empty; `line.found` is false at the end.
[[nodiscard]] status next_content_line(korvane::detail::checksum_stream& stream, raw_line& line,
                                       std::size_t keep) {
    for (;;) {
        status result = stream.read_raw_line(line, keep);
        if (result != status::ok || !line.found || line.length > 0) {
            return result;
        }
    }
}

// As next_content_line; false at the end and when the list cannot be read: a
// tag that cannot be read whole trusts nothing more than what was read.
bool read_content_line(korvane::detail::checksum_stream& stream, raw_line& line, std::size_t keep) {
    return next_content_line(stream, line, keep) == status::ok && line.found;
}

// The installation's signature, made and kept on the first run, in
// `settings`. False when no tag may be trusted or written: the signature
// could be someone else's, or could not be kept.
bool ready_signature(korvane::detail::settings_source& source,
                     korvane::detail::list_settings& settings) {
    if (!source.signature_trusted()) {
        return false;
    }
    if (!settings.signature) {
        auto low = static_cast<unsigned long>(korvane::platform::system_time_ticks() & 0xFFFFFFFFU);
        // Of several first runs at once, the first to keep its signature
        // wins; the others take that one before they write any tag.
        if (!source.remember_signature(std::to_string(low))) {
            // A tag under a signature that was never kept could never match.
            return false;
        }
        settings = source.current();
        return settings.signature.has_value();
    }
    return true;
}

// The time a tag's time line holds (eight bytes, least significant first).
std::uint64_t decode_stamp(std::string_view encoded) {
    unsigned char stamp[8] = {};
    korvane::detail::base64_decode(encoded, stamp, sizeof stamp);
    std::uint64_t time = 0;
    for (int i = 7; i >= 0; --i) {
        time = (time << 8) | stamp[i];
    }
    return time;
}

// Decodes the bit lines that follow under the tag's prefix into bits. False
// when a short line is followed by another: the tag is damaged.
bool read_bit_lines(korvane::detail::checksum_stream& stream, raw_line& row, std::size_t keep,
                    const std::string& prefix, unsigned char* bits, std::size_t capacity) {
    std::size_t offset = 0;
    bool previous_short = false;
    while (read_content_line(stream, row, keep)) {
        std::string_view text = content_of(row);
        if (row.length <= 4 || text.substr(0, 4) != prefix) {
            break;
        }
        if (previous_short) {
            // A damaged line would shift every later bit onto another entry.
            return false;
        }
        std::size_t decoded =
            korvane::detail::base64_decode(text.substr(4), bits + offset, capacity - offset);
        offset += decoded;
        previous_short = decoded < korvane::detail::tag_bits_per_line;
    }
    return true;
}

// Where an old tag starts in a list and what surrounds it. Lines are judged
// by their first bytes, so no line is ever held whole.
struct tag_place {
    bool found = false;              // the list holds a tag
    bool ends_with_line_end = true;  // the last line has its line end
    bool lines_follow = false;       // lines that are kept follow the tag
    std::uint64_t start = 0;         // where the tag starts, or the end
    std::uint64_t end = 0;           // the list's end
};

// Reads the list from its start; a status when it cannot be read.
[[nodiscard]] status find_tag_start(korvane::detail::checksum_stream& stream, tag_place& place) {
    status result = stream.seek(0);
    if (result != status::ok) {
        return result;
    }
    raw_line row;
    std::uint64_t after_content = 0;
    for (;;) {
        result = stream.read_raw_line(row, 8);
        if (result != status::ok) {
            return result;
        }
        if (!row.found) {
            break;
        }
        place.ends_with_line_end = row.has_end;
        if (row.length == 0) {
            continue;
        }
        bool is_tag = tag_version(content_of(row)) >= 0;
        if (!place.found) {
            if (is_tag) {
                place.found = true;
            } else {
                after_content = stream.tell();
            }
        } else if (!is_tag) {
            place.lines_follow = true;
        }
    }
    place.end = stream.tell();
    place.start = place.found ? after_content : place.end;
    return status::ok;
}

// The signature line and the time line of a new tag.
void encode_tag_head(std::string& tag, const char* signature, const std::string& folder,
                     std::uint64_t stamp_time) {
    tag += ";K2-";
    tag += signature != nullptr ? signature : "";
    tag += folder;
    tag += "\r\n;K2-";
    unsigned char stamp[8];
    for (int i = 0; i < 8; ++i) {
        stamp[i] = static_cast<unsigned char>(stamp_time >> (8 * i));
    }
    korvane::detail::base64_encode(stamp, tag, sizeof stamp);
    tag += "\r\n";
}

// The new tag replaces the old one at the list's end. The old tag is cut off
// first, and the cut is on disk before the new time line is written: a
// rewrite stopped at any byte leaves a tag that lacks bits (which trusts
// nothing) rather than old bits under a new time. The entry lines before the
// tag are never touched.
[[nodiscard]] status rewrite_tail_in_place(korvane::detail::checksum_stream& list,
                                           const tag_place& place, const std::string& tag) {
    status result = status::ok;
    if (place.found) {
        result = list.truncate_to(place.start);
        if (result == status::ok) {
            result = list.sync();
        }
    }
    if (result == status::ok) {
        result = list.seek(place.start);
    }
    if (result == status::ok) {
        result = list.write(tag);
    }
    if (result == status::ok) {
        result = list.flush();
    }
    if (result != status::ok) {
        // Better no tag than a partial one: the entries stay as they are. The
        // failure reported is the first one; a cut that fails as well leaves
        // a partial tag, whose missing bits trust nothing.
        (void)list.truncate_to(place.start);
    }
    return result;
}

// How many positions of old tag lines are gathered before they are written.
constexpr std::size_t retire_batch = 1024;

// Turns every tag line between `from` and `until` into a plain comment line
// where it stands, by overwriting the byte after its ';'. The first is the
// signature line, so a pass stopped anywhere leaves a tag without its
// signature line, which trusts nothing. The positions are gathered a batch at
// a time, so that memory stays bounded however long the list is.
[[nodiscard]] status retire_tag_lines(korvane::detail::checksum_stream& list, std::uint64_t from,
                                      std::uint64_t until) {
    std::vector<std::uint64_t> marks;
    marks.reserve(retire_batch);
    raw_line row;
    std::uint64_t position = from;
    while (position < until) {
        status result = list.seek(position);
        marks.clear();
        while (result == status::ok && marks.size() < retire_batch && list.tell() < until) {
            result = list.read_raw_line(row, 8);
            if (result == status::ok && !row.found) {
                result = status::file_read_error;  // the list shrank meanwhile
            }
            if (result == status::ok && row.length > 0 && tag_version(content_of(row)) >= 0) {
                marks.push_back(row.start + 1);
            }
        }
        position = list.tell();
        for (std::uint64_t mark : marks) {
            if (result == status::ok) {
                result = list.seek(mark);
            }
            if (result == status::ok) {
                result = list.write(" ");
            }
        }
        if (result == status::ok) {
            result = list.flush();
        }
        if (result != status::ok) {
            return result;
        }
    }
    return status::ok;
}

// Lines behind the old tag stay where they are, and the new tag goes behind
// them. Nothing is moved, so a rewrite stopped at any byte loses or doubles no
// line; and no new file takes the list's place, which a writer that had
// already looked up the list's name would miss. The new tag goes first with
// its signature line blanked (the only write that grows the list: when it
// fails, the list is cut back to what it was), then the old tag's lines become
// comment lines, and only then, both on disk, the new signature line is made
// whole. Stopped anywhere, the list holds the old tag untouched, or a tag
// without its signature line, or the new tag.
[[nodiscard]] status retire_and_append(korvane::detail::checksum_stream& list,
                                       const tag_place& place, const std::string& tag,
                                       std::size_t head) {
    std::string unsigned_tag = tag;
    unsigned_tag[head + 1] = ' ';
    status result = list.seek(place.end);
    if (result == status::ok) {
        result = list.write(unsigned_tag);
    }
    if (result == status::ok) {
        result = list.sync();
    }
    if (result != status::ok) {
        (void)list.truncate_to(place.end);
        return result;
    }
    result = retire_tag_lines(list, place.start, place.end);
    if (result == status::ok) {
        result = list.sync();
    }
    if (result == status::ok) {
        result = list.seek(place.end + head + 1);
    }
    if (result == status::ok) {
        result = list.write(std::string_view(tag).substr(head + 1, 1));
    }
    if (result == status::ok) {
        result = list.flush();
    }
    return result;
}

}  // namespace

void sfv::leaveTagUnwritten() {
    tag_left_unwritten = true;
}

void sfv::stampTagNoLaterThan(std::uint64_t ticks) {
    const std::uint64_t limit = ticks > stamp_margin ? ticks - stamp_margin : 0;
    stamp_time = std::min(stamp_time, limit);
}

void sfv::readTag() {
    korvane::detail::store_settings store;
    readTag(store);
}

void sfv::readTag(korvane::detail::settings_source& source) {
    korvane::detail::list_settings settings = source.current();
    if (!ready_signature(source, settings)) {
        tag_disabled = true;
        return;
    }
    const std::string& signature = *settings.signature;
    std::uint64_t duration = settings.expiry;
    std::uint64_t now = korvane::platform::system_time_ticks();
    stamp_time = now > stamp_margin ? now - stamp_margin : 0;

    auto reject = [this] {
        tag_rejected = true;
        tag_found = false;
        std::memset(verified_bits, 0, sizeof verified_bits);
        tag_changed = true;
    };

    raw_line row;
    const std::size_t keep = longest_tag_line + 2;
    std::string_view text;
    int version = -1;
    // Find the tag start.
    do {
        if (!read_content_line(*file, row, keep)) {
            return;
        }
        text = content_of(row);
        version = tag_version(text);
    } while (version < 0 || version >= 3);

    // The signature, and after it the folder its names resolved against
    // when that was not the list's own; compared once that is known.
    std::string_view seen = text.substr(4);
    bool ours = seen.substr(0, signature.size()) == signature &&
                (seen.size() == signature.size() || seen[signature.size()] == '/');
    if (version == 0 || row.length > longest_tag_line || !ours) {
        reject();
        return;
    }
    file->folder.found = std::string(seen.substr(signature.size()));
    file->tag_signature = std::string(seen);
    std::string prefix(text.substr(0, 4));
    if (version == 2) {
        if (!read_content_line(*file, row, keep)) {
            tag_found = true;
            return;
        }
        text = content_of(row);
        if (row.length > 4 && text.substr(0, 4) == prefix) {
            tag_time = decode_stamp(text.substr(4));
            if (duration != 0 && now >= korvane::detail::saturating_add(tag_time, duration)) {
                reject();
                return;
            }
        }
    } else {
        tag_time = 0;  // no time line: no bit is trusted without a fresh check
    }
    if (!read_bit_lines(*file, row, keep, prefix, verified_bits, sizeof verified_bits)) {
        reject();
        return;
    }
    tag_found = true;
    if (version == 1) {
        tag_changed = true;
    }
}

void sfv::settleTagFolder() {
    if (file == nullptr || file->folder.settled) {
        return;
    }
    korvane::detail::name_folder& folder = file->folder;
    if (!folder.resolved) {
        // Without a word from the caller, names resolve against the list's
        // own folder.
        const std::wstring& list_path = file->path();
        std::wstring own = list_path.substr(0, korvane::platform::directory_part_length(list_path));
        korvane::detail::resolve_name_folder(own.empty() ? L"." : own.c_str(), folder);
    }
    folder.settled = true;
    if (tag_disabled) {
        return;
    }
    if (folder.expected.empty() || !folder.keeps_change_time) {
        // A folder that cannot be told from another, or whose file system
        // lets a replaced file keep an old stamp: no bit is trusted, and none
        // is written that an older reader might trust.
        tag_disabled = true;
        tag_found = false;
        std::memset(verified_bits, 0, sizeof verified_bits);
        if (!folder.expected.empty() && folder.untrusted.empty()) {
            folder.untrusted = std::move(folder.file_system);
        }
        return;
    }
    if (tag_found && folder.found != folder.expected) {
        // Earned on other files, or written before tags named their folder:
        // trusts nothing here, and is replaced.
        tag_rejected = true;
        tag_found = false;
        std::memset(verified_bits, 0, sizeof verified_bits);
        tag_changed = true;
    }
}

namespace {

// Whether the file system of a file on `device` below the folder keeps a
// change time; asked once per device, for a bounded number of them.
bool device_keeps_change_time(korvane::detail::name_folder& folder, std::uint64_t device,
                              const wchar_t* path) {
    if (device == folder.device) {
        return true;  // the folder's own, trusted already
    }
    for (const auto& known : folder.devices) {
        if (known.device == device) {
            return known.keeps_change_time;
        }
    }
    korvane::platform::file_system_info system;
    bool keeps = korvane::platform::get_file_system(path, system) == 0 && system.keeps_change_time;
    constexpr std::size_t devices_kept = 64;
    if (folder.devices.size() < devices_kept) {
        try {
            folder.devices.push_back({device, keeps});
        } catch (const std::bad_alloc&) {
            // Not kept: asked again for the next file on that device.
        }
    }
    if (!keeps && folder.untrusted.empty()) {
        folder.untrusted = std::move(system.name);
    }
    return keeps;
}

}  // namespace

int sfv::isPreviouslyVerified(const wchar_t* path) {
    settleTagFolder();
    if (tag_disabled || tag_rejected || !tag_found || bit_index >= bit_bytes || path == nullptr) {
        return 0;
    }
    korvane::platform::file_info info;
    if (korvane::platform::get_file_info(path, info) != 0) {
        return 0;
    }
    if (!device_keeps_change_time(file->folder, info.device, path)) {
        return 0;  // on a file system below the folder whose stamps can be set
    }
    auto mask = static_cast<unsigned char>(bit_mask);
    if (info.change_time >= tag_time) {
        verified_bits[bit_index] &= static_cast<unsigned char>(~mask);
        tag_changed = true;
    }
    return (verified_bits[bit_index] & mask) != 0 ? 1 : 0;
}

int sfv::isPreviouslyVerifiedAt(std::int64_t index, const wchar_t* path) {
    if (index < 0 || index / 8 >= bit_bytes) {
        return 0;  // past the tag's capacity: never recorded, never trusted
    }
    const std::int32_t saved_index = bit_index;
    const std::int32_t saved_mask = bit_mask;
    bit_index = static_cast<std::int32_t>(index / 8);
    bit_mask = 128 >> (index % 8);
    const int answer = isPreviouslyVerified(path);
    bit_index = saved_index;
    bit_mask = saved_mask;
    return answer;
}

const wchar_t* sfv::untrustedFileSystem() {
    settleTagFolder();
    if (file == nullptr || file->folder.untrusted.empty()) {
        return nullptr;
    }
    return file->folder.untrusted.c_str();
}

int sfv::setPreviouslyVerified(bool verified) {
    // Settled before the first outcome is recorded: a tag found to belong to
    // another folder later on would take this run's outcomes with it.
    settleTagFolder();
    if (bit_index >= bit_bytes) {
        return 0;  // past the capacity: never recorded, never trusted
    }
    auto mask = static_cast<unsigned char>(bit_mask);
    bool set = (verified_bits[bit_index] & mask) != 0;
    if (verified != set) {
        verified_bits[bit_index] ^= mask;
        tag_changed = true;
    }
    bit_mask >>= 1;
    if (bit_mask == 0) {
        ++bit_index;
        bit_mask = 128;
    }
    return 0;
}

int sfv::writeTag() {
    korvane::detail::store_settings store;
    return writeTag(store);
}

int sfv::writeTag(korvane::detail::settings_source& source) {
    auto finish = [this](status result) {
        status closed = file->close();
        file.reset();
        return korvane::to_int(result != status::ok ? result : closed);
    };
    settleTagFolder();
    if (tag_disabled || !tag_changed || tag_left_unwritten) {
        return finish(status::ok);
    }
    korvane::detail::list_settings settings = source.current();
    if (!settings.update_tag) {
        return finish(status::ok);
    }

    // Ctrl-C in the middle of the rewrite must not leave a damaged list: the
    // writes below complete first. Held from before writers are kept out, so
    // that the notice of a writer waiting ends nothing.
    korvane::platform::interrupt_deferral hold_interrupts;

    // Only the user's own regular list, reached without a link, takes a tag;
    // any other list was verified like the rest and stays byte for byte. So
    // does a list that another process has open or wrote since it was read:
    // its new lines would be lost or misread.
    if (file->reopen_for_rewrite() != status::ok || file->exclude_other_writers() != status::ok) {
        return finish(status::ok);
    }

    tag_place place;
    if (find_tag_start(*file, place) != status::ok) {
        return finish(status::ok);  // unreadable: leave the file as it is
    }

    std::string tag;
    const bool at_end = !place.found || place.lines_follow;
    if (at_end && place.end > 0 && !place.ends_with_line_end) {
        tag = "\r\n";  // the last line keeps its line, the tag starts its own
    }
    const std::size_t head = tag.size();  // where the signature line starts
    encode_tag_head(tag, settings.signature ? settings.signature->c_str() : nullptr,
                    file->folder.expected, stamp_time);
    std::size_t count = static_cast<std::size_t>(bit_index);
    if (bit_index < bit_bytes && bit_mask != 128) {
        // Entries this run did not reach must not keep old bits under a new time.
        verified_bits[bit_index] &= static_cast<unsigned char>(~((bit_mask << 1) - 1));
        ++count;
    }
    korvane::detail::encode_tag_bits(tag, verified_bits, count);

    if (!place.lines_follow) {
        return finish(rewrite_tail_in_place(*file, place, tag));
    }
    return finish(retire_and_append(*file, place, tag, head));
}

bool sfv::tagCarriesOver() {
    if (!tag_found || tag_rejected || tag_disabled) {
        return false;
    }
    // Trusted only for the folder the caller named, or the list's own.
    settleTagFolder();
    if (!tag_found || tag_rejected || tag_disabled || tag_time == 0) {
        return false;  // not one a verification here would trust
    }
    const unsigned char* const start = verified_bits;
    const unsigned char* end = start + bit_bytes;
    while (end > start && end[-1] == 0) {
        --end;
    }
    if (end == start) {
        return false;  // no bit to keep
    }
    korvane::detail::carried_tag& carry = update->tag;
    carry.bits.assign(start, end);
    encode_tag_head(carry.head, file->tag_signature.c_str(), std::string(), tag_time);
    return true;
}

void sfv::carryTagEntry() {
    korvane::detail::carried_tag& carry = update->tag;
    try {
        if (!carry.settled) {
            carry.settled = true;
            carry.carried = tagCarriesOver();
        }
        // Entries past the tag's bits have none to carry, wherever they move.
        if (carry.carried && carry.positions.size() < carry.bits.size() * 8) {
            carry.positions.push_back(line_start);
        }
    } catch (const std::bad_alloc&) {
        // Without every entry's place, a bit could land on another entry.
        carry.carried = false;
        std::vector<std::uint64_t>().swap(carry.positions);
    }
}
