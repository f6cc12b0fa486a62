#include "formats/update.h"

#include <algorithm>
#include <bitset>
#include <new>
#include <string_view>
#include <utility>

#include "formats/records.h"
#include "formats/tag.h"
#include "platform/interrupt.h"
#include "platform/text.h"

namespace korvane::detail {

namespace {

// How much of a line is looked at to tell what it is: more than any record
// or tag line korvane reads. Longer lines are copied as they stand.
constexpr std::size_t inspect_bytes = 4096;
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

// The start of the line reading stands at.
struct line_look {
    std::string_view text;  // without its line end; the first inspect_bytes at most
    bool whole = false;     // `text` is the whole line
    bool empty = false;     // nothing but a line end: reading skips it
    bool at_end = false;    // no line is left
};

[[nodiscard]] status look_at_line(checksum_stream& old, line_look& look) {
    std::string_view bytes;
    status result = old.peek(inspect_bytes, bytes);
    if (result != status::ok) {
        return result;
    }
    look.at_end = bytes.empty();
    const std::size_t feed = bytes.find('\n');
    std::size_t length = feed != std::string_view::npos ? feed : bytes.size();
    if (feed != std::string_view::npos && length > 0 && bytes[length - 1] == '\r') {
        --length;
    }
    look.whole = feed != std::string_view::npos || bytes.size() < inspect_bytes;
    look.empty = feed != std::string_view::npos && length == 0;
    look.text = bytes.substr(0, length);
    return status::ok;
}

// The name a record line states, as the list's bytes; false for any other line.
bool recorded_name(std::string_view text, bool sfv, std::string& name) {
    const std::wstring wide = platform::widen(text);
    record_line record;
    const int length = static_cast<int>(wide.size());
    if (!(sfv ? parse_sfv_record(wide.c_str(), length, record)
              : parse_digest_record(wide.c_str(), length, record))) {
        return false;
    }
    name.assign(text.substr(static_cast<std::size_t>(record.name - wide.c_str()),
                            static_cast<std::size_t>(record.name_length)));
    return true;
}

// A cheap first look at the SFV comment lines: whether one may be the record
// of a name whose records go. A record line states its name as all of the
// line after some space, so each such end of the line is looked up, by its
// length and a hash of its bytes taken from the line's end backwards; only a
// line with a hit is parsed in full. It never misses a line the parse would
// match: without the memory for its table, it lets every line through.
class unrecorded_filter {
  public:
    void build(const std::vector<unrecorded_name>& names) {
        try {
            for (const unrecorded_name& name : names) {
                if (!name.bytes.empty() && name.bytes.size() < inspect_bytes) {
                    lengths[name.bytes.size()] = true;
                    hashes.push_back(hash_of(name.bytes));
                }
            }
            std::sort(hashes.begin(), hashes.end());
            built = true;
        } catch (const std::bad_alloc&) {
            built = false;
        }
    }

    [[nodiscard]] bool may_hold(std::string_view line) const {
        if (!built) {
            return true;
        }
        std::uint64_t hash = 0;
        for (std::size_t at = line.size(); at > 1; --at) {
            hash = step(hash, line[at - 1]);
            if (line[at - 2] == ' ' && lengths[line.size() - at + 1] &&
                std::binary_search(hashes.begin(), hashes.end(), hash)) {
                return true;
            }
        }
        return false;
    }

  private:
    static std::uint64_t step(std::uint64_t hash, char byte) {
        constexpr std::uint64_t multiplier = 0x100000001B3ULL;
        return hash * multiplier + static_cast<unsigned char>(byte) + 1;
    }
    static std::uint64_t hash_of(std::string_view bytes) {
        std::uint64_t hash = 0;
        for (std::size_t at = bytes.size(); at > 0; --at) {
            hash = step(hash, bytes[at - 1]);
        }
        return hash;
    }

    std::bitset<inspect_bytes> lengths;
    // Sorted: a hash table of the standard library would be exported.
    std::vector<std::uint64_t> hashes;
    bool built = false;
};

// The bits of the carried tag in the new list's order: a kept entry's bit
// as it was, none for a replaced or dropped entry, whose place the next
// entry takes. False when an edit names a place between the entries read, or
// two edits one entry: which entry it meant is not known, so no bit is sure
// to stay on its own entry.
bool move_bits(const list_update& update, std::vector<unsigned char>& bits, std::size_t& entries) {
    const carried_tag& carry = update.tag;
    const std::vector<line_edit>& edits = update.edits;
    bits.assign(carry.bits.size(), 0);
    entries = 0;
    std::size_t next = 0;
    for (std::size_t i = 0; i < carry.positions.size(); ++i) {
        const std::uint64_t at = carry.positions[i];
        if ((i > 0 && at <= carry.positions[i - 1]) ||
            (next < edits.size() && edits[next].position < at)) {
            return false;
        }
        bool kept = true;
        if (next < edits.size() && edits[next].position == at) {
            kept = false;
            if (edits[next++].drop) {
                continue;
            }
            if (next < edits.size() && edits[next].position == at) {
                return false;
            }
        }
        const auto mask = static_cast<unsigned char>(128U >> (i % 8));
        if (kept && (carry.bits[i / 8] & mask) != 0) {
            bits[entries / 8] |= static_cast<unsigned char>(128U >> (entries % 8));
        }
        ++entries;
    }
    return true;
}

// The carried tag's lines; empty when none goes into the new list.
// Without the memory for it, the tag is left out, which trusts nothing.
std::string carried_tag_text(const list_update& update) {
    std::string text;
    try {
        std::vector<unsigned char> bits;
        std::size_t entries = 0;
        if (!update.tag.carried || !move_bits(update, bits, entries)) {
            return text;
        }
        std::size_t count = (entries + 7) / 8;
        while (count > 0 && bits[count - 1] == 0) {
            --count;
        }
        if (count > 0) {
            text = update.tag.head;
            encode_tag_bits(text, bits.data(), count);
        }
    } catch (const std::bad_alloc&) {
        text.clear();
    }
    return text;
}

class update_writer {
  public:
    update_writer(checksum_stream& from, list_update& plan, entry_spool& spool)
        : old(from), update(plan), added(spool) {}

    [[nodiscard]] status run();

  private:
    [[nodiscard]] status next_line(bool& done);
    [[nodiscard]] status edit_line(const line_edit& edit, const line_look& look);
    [[nodiscard]] status own_line(const line_look& look, bool& taken);
    [[nodiscard]] status release_held();
    [[nodiscard]] status insert_records();
    [[nodiscard]] status skip_line();
    [[nodiscard]] status finish();

    checksum_stream& old;
    list_update& update;
    entry_spool& added;
    checksum_stream out;
    std::size_t next_edit = 0;
    bool records_inserted = false;
    std::string held;  // a digest list's record line, until its entry is seen
    bool holding = false;
    std::string name;
    unrecorded_filter unrecorded;
};

status update_writer::skip_line() {
    bool copied = false;
    return old.copy_line(nullptr, copied);
}

status update_writer::release_held() {
    if (!holding) {
        return status::ok;
    }
    holding = false;
    return out.write(held);
}

status update_writer::insert_records() {
    if (records_inserted || !update.sfv) {
        return status::ok;
    }
    records_inserted = true;
    status result = out.write(update.new_records);
    return result != status::ok ? result : added.join_stream(out, 0);
}

// An entry line replaced or dropped: a digest list's record line right before
// it goes with it.
status update_writer::edit_line(const line_edit& edit, const line_look& look) {
    const bool marked = old.tell() == 0 && look.text.substr(0, 3) == byte_order_mark;
    holding = false;
    status result = skip_line();
    if (result == status::ok && marked) {
        result = out.write(byte_order_mark);
    }
    if (result == status::ok && !edit.drop) {
        result = out.write(std::string_view(update.texts).substr(edit.text, edit.length));
    }
    return result;
}

// Lines the update itself owns: an SFV tag and the old records of entries
// that are replaced or dropped go; a digest list's record line waits for its
// entry.
status update_writer::own_line(const line_look& look, bool& taken) {
    taken = false;
    std::string_view text = look.text;
    if (old.tell() == 0 && text.substr(0, 3) == byte_order_mark) {
        return status::ok;
    }
    if (!look.whole || text.empty()) {
        return status::ok;
    }
    if (update.sfv && text[0] == ';') {
        taken = tag_version(text) >= 0 ||
                (!update.unrecorded.empty() && unrecorded.may_hold(text) &&
                 recorded_name(text, true, name) &&
                 std::binary_search(update.unrecorded.begin(), update.unrecorded.end(),
                                    unrecorded_name{name}));
        return taken ? skip_line() : status::ok;
    }
    if (!update.sfv && text.substr(0, 2) == "#=" && recorded_name(text, false, name)) {
        // Copied before reading moves on: the view goes with the buffer.
        std::string copy(text);
        const std::uint64_t start = old.tell();
        status result = release_held();
        if (result == status::ok) {
            result = skip_line();
        }
        if (result != status::ok) {
            return result;
        }
        const std::uint64_t length = old.tell() - start;
        copy += length == copy.size() + 2 ? "\r\n" : length == copy.size() + 1 ? "\n" : "";
        held = std::move(copy);
        holding = taken = true;
    }
    return status::ok;
}

status update_writer::next_line(bool& done) {
    line_look look;
    status result = look_at_line(old, look);
    done = look.at_end;
    if (result != status::ok || done) {
        return result;
    }
    const std::uint64_t at = old.tell();
    if (!look.empty && at >= update.first_entry) {
        result = insert_records();
    }
    if (result == status::ok && !look.empty && next_edit < update.edits.size() &&
        at >= update.edits[next_edit].position) {
        return edit_line(update.edits[next_edit++], look);
    }
    if (result == status::ok && look.empty) {
        result = release_held();
        bool copied = false;
        return result != status::ok ? result : old.copy_line(&out, copied);
    }
    if (result != status::ok) {
        return result;
    }
    bool taken = false;
    result = own_line(look, taken);
    if (result != status::ok || taken) {
        return result;
    }
    result = release_held();
    bool copied = false;
    return result != status::ok ? result : old.copy_line(&out, copied);
}

status update_writer::finish() {
    status result = release_held();
    if (result == status::ok) {
        result = insert_records();
    }
    if (result == status::ok) {
        result = added.join_stream(out, update.sfv ? 1 : 0);
    }
    if (result == status::ok && update.sfv) {
        result = out.write(carried_tag_text(update));
    }
    if (result == status::ok) {
        result = out.flush();
    }
    if (result == status::ok) {
        result = old.check_unchanged();
    }
    if (result != status::ok) {
        return result;
    }
    old.release_file();
    return out.commit();
}

status update_writer::run() {
    std::sort(update.unrecorded.begin(), update.unrecorded.end());
    if (update.sfv && !update.unrecorded.empty()) {
        unrecorded.build(update.unrecorded);
    }
    std::stable_sort(
        update.edits.begin(), update.edits.end(),
        [](const line_edit& a, const line_edit& b) { return a.position < b.position; });
    // An interrupt waits until the new list is in place or discarded: its
    // temporary file may be made by any write below, and the rewrite reads
    // and writes only, everything hashed before it.
    platform::interrupt_deferral hold_interrupts;
    status result = old.check_unchanged();
    if (result == status::ok) {
        result = old.seek(0);
    }
    if (result == status::ok) {
        result = out.create_for(old.path().c_str());
    }
    for (bool done = false; result == status::ok && !done;) {
        result = next_line(done);
    }
    if (result == status::ok) {
        result = finish();
    }
    if (result != status::ok) {
        out.discard();
    }
    return result;
}

}  // namespace

status write_update(checksum_stream& old, list_update& update, entry_spool& added) {
    // Only the user's own regular file, never through a link, and only the
    // file that was read: taken for writing, so that a list nobody may write
    // is refused before anything is made.
    status result = old.reopen_for_rewrite();
    if (result != status::ok) {
        return result;
    }
    update_writer writer(old, update, added);
    return writer.run();
}

status ends_lines_with_lf(checksum_stream& list, bool& lf) {
    raw_line row;
    lf = false;
    status result = list.read_raw_line(row, 1);
    if (result == status::ok && row.found && row.has_end) {
        // The length without the line end tells LF from CR LF.
        lf = list.tell() - row.start == row.length + 1;
    }
    return result;
}

}  // namespace korvane::detail
