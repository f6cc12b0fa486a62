// The previously-verified tag: comment lines at the end of an SFV file that
// hold one bit per entry, tied to this installation's signature and stamped
// with the time of the run that wrote them.
#include <korvane/config.h>
#include <korvane/sfv.h>
#include <korvane/status.h>

#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "config/config_internal.h"
#include "formats/base64.h"
#include "formats/stream.h"
#include "formats/tag.h"
#include "platform/clock.h"
#include "platform/fs.h"
#include "platform/interrupt.h"

namespace korvane::detail {

namespace platform = korvane::platform;

namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return a > std::numeric_limits<std::uint64_t>::max() - b
               ? std::numeric_limits<std::uint64_t>::max()
               : a + b;
}

std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return a * b;
}

}  // namespace

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

std::string folder_suffix(const wchar_t* folder, const std::wstring& list_path) {
    std::wstring list_folder = list_path.substr(0, platform::directory_part_length(list_path));
    if (list_folder.empty()) {
        list_folder = L".";
    }
    platform::file_info names{};
    platform::file_info own{};
    if (platform::get_file_info(folder, names) == 0 &&
        platform::get_file_info(list_folder.c_str(), own) == 0 && names.device == own.device &&
        names.inode == own.inode) {
        return {};
    }
    std::wstring canonical;
    if (platform::canonical_path(folder, canonical) != 0) {
        canonical = folder;
    }
    std::uint32_t crc = 0xFFFFFFFFU;
    auto feed = [&crc](unsigned byte) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    };
    for (wchar_t unit : canonical) {
        auto value = static_cast<unsigned long>(unit);
        feed(static_cast<unsigned>(value & 0xFF));
        if (value > 0xFF) {
            feed(static_cast<unsigned>((value >> 8) & 0xFF));
        }
    }
    crc = ~crc;
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string suffix = "/";
    for (int shift = 28; shift >= 0; shift -= 4) {
        suffix += hex[(crc >> shift) & 15];
    }
    return suffix;
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

using korvane::detail::raw_line;
using korvane::detail::tag_version;

constexpr std::size_t bits_per_line = 48;
// A tag line as other readers take it: 511 characters at most.
constexpr std::size_t longest_tag_line = 511;
constexpr std::uint64_t stamp_margin = 2 * 10000000ULL;

std::string_view content_of(const raw_line& line) {
    return std::string_view(line.bytes).substr(0, line.length);
}

// The next line that is not empty; 1, 0 at the end, or a status.
int next_content_line(korvane::detail::checksum_stream& stream, raw_line& line, std::size_t keep) {
    for (;;) {
        int result = stream.read_raw_line(line, keep);
        if (result <= 0 || line.length > 0) {
            return result;
        }
    }
}

}  // namespace

void sfv::readTag() {
    config& store = *config::instance();
    // A signature in a folder others may change could be theirs: no tag is
    // trusted or written then.
    if (!config_access::folder_is_private()) {
        tag_disabled = true;
        return;
    }
    if (!store.has_key("signature")) {
        auto low = static_cast<unsigned long>(korvane::platform::system_time_ticks() & 0xFFFFFFFFU);
        std::string generated = std::to_string(low);
        // Of several first runs at once, the first to store its signature
        // wins; the others take that one before they write any tag.
        if (!config_access::set_unless_present("Signature", generated.c_str()) ||
            !store.has_key("signature")) {
            // A tag under a signature that was never kept could never match.
            tag_disabled = true;
            return;
        }
    }
    const char* signature_text = store["signature"];
    std::string signature = signature_text != nullptr ? signature_text : "";
    std::uint64_t duration = korvane::detail::expiry_ticks(store["expiretime"]);
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
    for (;;) {
        if (next_content_line(*file, row, keep) <= 0) {
            return;
        }
        std::string_view text = content_of(row);
        int version = tag_version(text);
        if (version < 0 || version >= 3) {
            continue;
        }
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
        std::string prefix(text.substr(0, 4));
        if (version == 2) {
            if (next_content_line(*file, row, keep) <= 0) {
                tag_found = true;
                return;
            }
            text = content_of(row);
            if (row.length > 4 && text.substr(0, 4) == prefix) {
                unsigned char stamp[8] = {};
                korvane::detail::base64_decode(text.substr(4), stamp, sizeof stamp);
                tag_time = 0;
                for (int i = 7; i >= 0; --i) {
                    tag_time = (tag_time << 8) | stamp[i];
                }
                if (duration != 0 && now >= korvane::detail::saturating_ticks(tag_time, duration)) {
                    reject();
                    return;
                }
            }
        } else {
            tag_time = 0;  // no time line: no bit is trusted without a fresh check
        }
        std::size_t offset = 0;
        bool previous_short = false;
        while (next_content_line(*file, row, keep) > 0) {
            text = content_of(row);
            if (row.length <= 4 || text.substr(0, 4) != prefix) {
                break;
            }
            if (previous_short) {
                // A damaged line would shift every later bit onto another entry.
                reject();
                return;
            }
            std::size_t decoded = korvane::detail::base64_decode(
                text.substr(4), verified_bits + offset, sizeof verified_bits - offset);
            offset += decoded;
            previous_short = decoded < bits_per_line;
        }
        tag_found = true;
        if (version == 1) {
            tag_changed = true;
        }
        return;
    }
}

void sfv::settleTagFolder() {
    if (file == nullptr || file->folder.settled) {
        return;
    }
    file->folder.settled = true;
    if (tag_found && file->folder.found != file->folder.expected) {
        // Earned on other files: trusts nothing here, and is replaced.
        tag_rejected = true;
        tag_found = false;
        std::memset(verified_bits, 0, sizeof verified_bits);
        tag_changed = true;
    }
}

int sfv::isPreviouslyVerified(const wchar_t* path) {
    settleTagFolder();
    if (tag_disabled || tag_rejected || !tag_found || bit_index >= bit_bytes || path == nullptr) {
        return 0;
    }
    korvane::platform::file_info info;
    if (korvane::platform::get_file_info(path, info) != 0) {
        return 0;
    }
    auto mask = static_cast<unsigned char>(bit_mask);
    if (info.change_time >= tag_time) {
        verified_bits[bit_index] &= static_cast<unsigned char>(~mask);
        tag_changed = true;
    }
    return (verified_bits[bit_index] & mask) != 0 ? 1 : 0;
}

int sfv::setPreviouslyVerified(bool verified) {
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
    auto finish = [this](int status) {
        int closed = file->close();
        delete file;
        file = nullptr;
        return status != 0 ? status : closed;
    };
    settleTagFolder();
    config& store = *config::instance();
    if (tag_disabled || (store.has_key("updatedb") && !static_cast<bool>(store["updatedb"])) ||
        !tag_changed) {
        return finish(0);
    }

    // Only the user's own regular list, reached without a link, takes a tag;
    // any other list was verified like the rest and stays byte for byte.
    if (file->reopen_for_rewrite() != 0) {
        return finish(0);
    }

    // Find where the old tag starts and whether lines that are kept follow it.
    // Lines are judged by their first bytes, so no line is ever held whole.
    int status = file->seek(0);
    if (status != 0) {
        return finish(0);
    }
    raw_line row;
    bool found = false;
    bool ends_with_line_end = true;
    bool lines_follow = false;
    std::uint64_t after_content = 0;
    for (;;) {
        int result = file->read_raw_line(row, 8);
        if (result < 0) {
            return finish(0);  // unreadable: leave the file as it is
        }
        if (result == 0) {
            break;
        }
        ends_with_line_end = row.has_end;
        if (row.length == 0) {
            continue;
        }
        bool is_tag = tag_version(content_of(row)) >= 0;
        if (!found) {
            if (is_tag) {
                found = true;
            } else {
                after_content = file->tell();
            }
        } else if (!is_tag) {
            lines_follow = true;
        }
    }
    const std::uint64_t tag_start = found ? after_content : file->tell();

    std::string tag;
    if (!found && tag_start > 0 && !ends_with_line_end) {
        tag = "\r\n";  // the last entry keeps its line, the tag starts its own
    }
    tag += ";K2-";
    tag += store["signature"] != nullptr ? static_cast<const char*>(store["signature"]) : "";
    tag += file->folder.expected;
    tag += "\r\n;K2-";
    unsigned char stamp[8];
    for (int i = 0; i < 8; ++i) {
        stamp[i] = static_cast<unsigned char>(stamp_time >> (8 * i));
    }
    korvane::detail::base64_encode(stamp, tag, sizeof stamp);
    tag += "\r\n";
    std::size_t count = static_cast<std::size_t>(bit_index);
    if (bit_index < bit_bytes && bit_mask != 128) {
        // Entries this run did not reach must not keep old bits under a new time.
        verified_bits[bit_index] &= static_cast<unsigned char>(~((bit_mask << 1) - 1));
        ++count;
    }
    for (std::size_t done = 0; done < count; done += bits_per_line) {
        std::size_t take = count - done < bits_per_line ? count - done : bits_per_line;
        tag += ";K2-";
        korvane::detail::base64_encode(verified_bits + done, tag, take);
        tag += "\r\n";
    }

    // Ctrl-C in the middle of the rewrite must not leave a damaged list: the
    // writes below complete first.
    korvane::platform::interrupt_deferral hold_interrupts;
    if (!lines_follow) {
        // In place. The old tag is cut off first, and the cut is on disk before
        // the new time line is written: a rewrite stopped at any byte leaves a
        // tag that lacks bits (which trusts nothing) rather than old bits under
        // a new time. The entry lines before the tag are never touched.
        if (found) {
            status = file->truncate_to(tag_start);
            if (status == 0) {
                status = file->sync();
            }
        }
        if (status == 0) {
            status = file->seek(tag_start);
        }
        if (status == 0) {
            status = file->write(tag);
        }
        if (status == 0) {
            status = file->flush();
        }
        if (status != 0) {
            // Better no tag than a partial one: the entries stay as they are.
            file->truncate_to(tag_start);
        }
        return finish(status);
    }

    // Lines behind the old tag move in front of the new one. Moving them in
    // place could lose or double lines when cut; a new file renamed over the
    // list leaves either the old list or the new one.
    korvane::detail::checksum_stream replacement;
    std::wstring list_path = file->path();
    status = replacement.create_for(list_path.c_str());
    if (status == 0) {
        status = file->seek(0);
    }
    if (status == 0) {
        status = file->copy_bytes(replacement, tag_start);
    }
    while (status == 0) {
        std::string_view head;
        status = file->peek(8, head);
        if (status != 0 || head.empty()) {
            break;
        }
        head = head.substr(0, head.find('\n'));
        bool empty = head.empty() || head == "\r";
        bool keep = !empty && tag_version(head) < 0;
        int result = file->copy_line(keep ? &replacement : nullptr);
        if (result <= 0) {
            status = result;
            break;
        }
    }
    if (status == 0) {
        status = replacement.write(tag);
    }
    if (status == 0) {
        // Windows renames nothing over a file that is still open.
        status = file->close();
    }
    if (status == 0) {
        status = replacement.commit();
    }
    return finish(status);
}
