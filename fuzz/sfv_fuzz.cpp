// The SFV reader with its previously-verified tag, driven like a verification
// run: open, every entry to the end (or to a fuzzer-chosen stop), the previous
// verdict asked and fuzzer-chosen outcomes recorded, then close with its tag
// rewrite on a private copy. Properties:
//  - a rewrite leaves every line that is not a tag line as it was (only the
//    last line may gain the line end it lacked; old tag lines may stay behind
//    as retired comments), ends the file with exactly one tag, and that tag
//    carries this installation's signature with the code of the folder, the
//    time of the run and one bit per processed entry equal to its recorded
//    outcome;
//  - with "updatedb" false the file is never touched, and a file without any
//    tag gets one from a run in which an entry verified;
//  - an entry counts as previously verified only under a tag with the right
//    signature;
//  - every entry delivered, written again by create/addFile/close, reads back
//    with the same name and checksum.
//
// Input: 4 control bytes, then the SFV file.
//   [0] bits 0-1 configuration (0 plain, 1 updatedb=false, 2 expiretime=1d,
//       3 no signature yet); bit 2 ask isPreviouslyVerified; bit 3 stop after
//       [3] entries; bit 4 a name buffer of 3 + [3] units
//   [1], [2] outcome pattern, one bit per entry, repeating
#include <korvane/config.h>
#include <korvane/sfv.h>
#include <korvane/status.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "config/config_internal.h"
#include "formats/base64.h"
#include "lines.h"
#include "platform/clock.h"
#include "support.h"

namespace fs = std::filesystem;
using namespace korvane::fuzz;

namespace {

constexpr int wide_room = 1024;
// Longest name whose written line still reads back whole: korvane itself never
// writes names longer than its 263-unit path buffer.
constexpr std::size_t round_trip_name_limit = 1000;

const char* const configurations[] = {
    "Signature=fz\n",
    "Signature=fz\nupdatedb=false\n",
    "Signature=fz\nexpiretime=1d\n",
    nullptr,
};

struct entry {
    std::wstring name;
    std::uint32_t crc;
};

void use_configuration(int which) {
    static int current = -1;
    // The generated signature is stored by open, so that variant starts afresh.
    if (which != current || which == 3) {
        write_config(configurations[which]);
        config_access::reset();
        current = which;
    }
}

std::string current_signature() {
    const char* text = (*config::instance())["signature"];
    return text != nullptr ? text : "";
}

void check_rewrite(std::string_view before, std::string_view after,
                   const std::vector<bool>& outcomes, const std::string& signature,
                   std::uint64_t run_start) {
    auto old_lines = split_lines(before);
    auto new_lines = split_lines(after);

    // Every line that is not a tag line survives in its order, byte for byte.
    std::vector<physical_line> old_kept;
    std::vector<physical_line> new_kept;
    // Lines that look retired are left out on both sides: the rewrite may
    // retire old tag lines in place rather than remove them.
    for (const auto& line : old_lines) {
        if (!is_blank_line(line) && !is_tag_line(line.content) &&
            !is_retired_tag_line(line.content)) {
            old_kept.push_back(line);
        }
    }
    std::size_t first_tag = new_lines.size();
    for (std::size_t i = 0; i < new_lines.size(); ++i) {
        if (is_tag_line(new_lines[i].content)) {
            first_tag = i;
            break;
        }
        if (!is_blank_line(new_lines[i]) && !is_retired_tag_line(new_lines[i].content)) {
            new_kept.push_back(new_lines[i]);
        }
    }
    FUZZ_CHECK(old_kept.size() == new_kept.size());
    for (std::size_t i = 0; i < old_kept.size(); ++i) {
        bool same = old_kept[i].bytes == new_kept[i].bytes;
        bool end_added =
            !old_kept[i].has_end && new_kept[i].has_end &&
            new_kept[i].bytes.substr(0, new_kept[i].bytes.size() - 2) == old_kept[i].bytes &&
            new_kept[i].bytes.substr(new_kept[i].bytes.size() - 2) == "\r\n";
        FUZZ_CHECK(same || end_added);
    }

    // One tag at the very end: signature line, time line, bit lines.
    FUZZ_CHECK(new_lines.size() >= first_tag + 2);
    for (std::size_t i = first_tag; i < new_lines.size(); ++i) {
        FUZZ_CHECK(new_lines[i].content.substr(0, 4) == ";K2-");
        FUZZ_CHECK(new_lines[i].bytes.size() == new_lines[i].content.size() + 2 &&
                   new_lines[i].bytes.substr(new_lines[i].content.size()) == "\r\n");
    }
    // The signature, "/" and 32 hexadecimal digits naming the folder.
    std::string_view signed_by = new_lines[first_tag].content.substr(4);
    FUZZ_CHECK(signed_by.size() == signature.size() + 33);
    FUZZ_CHECK(signed_by.substr(0, signature.size() + 1) == signature + "/");
    FUZZ_CHECK(signed_by.find_first_not_of("0123456789ABCDEF", signature.size() + 1) ==
               std::string_view::npos);

    std::string_view time_text = new_lines[first_tag + 1].content.substr(4);
    FUZZ_CHECK(time_text.size() == 12 && time_text.back() == '=');
    unsigned char stamp[8] = {};
    FUZZ_CHECK(korvane::detail::base64_decode(time_text, stamp, sizeof stamp) == 8);
    std::uint64_t written = 0;
    for (int i = 7; i >= 0; --i) {
        written = (written << 8) | stamp[i];
    }
    // Stamped when open read the tag, two seconds early for coarse file times.
    const std::uint64_t second = 10000000ULL;
    FUZZ_CHECK(written + 2 * second >= run_start);
    FUZZ_CHECK(written <= korvane::platform::system_time_ticks());

    std::size_t processed = outcomes.size();
    std::size_t capacity = static_cast<std::size_t>(sfv::bit_bytes) * 8;
    if (processed > capacity) {
        processed = capacity;
    }
    std::vector<unsigned char> bits;
    for (std::size_t i = first_tag + 2; i < new_lines.size(); ++i) {
        std::string_view payload = new_lines[i].content.substr(4);
        bool last = i + 1 == new_lines.size();
        FUZZ_CHECK(last ? (!payload.empty() && payload.size() <= 64) : payload.size() == 64);
        unsigned char decoded[48];
        std::size_t count = korvane::detail::base64_decode(payload, decoded, sizeof decoded);
        FUZZ_CHECK(payload.size() == (count + 2) / 3 * 4);
        bits.insert(bits.end(), decoded, decoded + count);
    }
    FUZZ_CHECK(bits.size() == (processed + 7) / 8);
    for (std::size_t n = 0; n < bits.size() * 8; ++n) {
        bool bit = (bits[n / 8] & (128 >> (n % 8))) != 0;
        FUZZ_CHECK(bit == (n < processed && outcomes[n]));
    }
}

void check_round_trip(const std::vector<entry>& entries) {
    const fs::path target = scratch() / "again.sfv";
    {
        sfv list;
        FUZZ_CHECK(list.create(widen(target.string()).c_str()) == 0);
        for (const auto& e : entries) {
            FUZZ_CHECK(list.addFile(e.name.c_str(), &e.crc) == 0);
        }
        FUZZ_CHECK(list.close() == 0);
    }
    sfv list;
    FUZZ_CHECK(list.open(widen(target.string()).c_str()) == 0);
    for (const auto& e : entries) {
        wchar_t name[wide_room];
        std::uint32_t crc = 0;
        std::uint64_t size = 0;
        FUZZ_CHECK(list.getNextFile(name, wide_room, &size, &crc) > 0);
        FUZZ_CHECK(e.name == name);
        FUZZ_CHECK(e.crc == crc);
        FUZZ_CHECK(list.setPreviouslyVerified(false) == 0);
    }
    wchar_t name[wide_room];
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    FUZZ_CHECK(list.getNextFile(name, wide_room, &size, &crc) == 0);
    FUZZ_CHECK(list.close() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fs::create_directories(scratch() / "work");
    // Entry names are looked up relative to the current folder.
    fs::current_path(scratch() / "work");
    write_file(scratch() / "probe", "x");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const int flags = data[0];
    const unsigned pattern = data[1] | (data[2] << 8);
    const int limit = data[3];
    const bool ask_previous = (flags & 4) != 0;
    const bool stop_early = (flags & 8) != 0;
    const int name_room = (flags & 16) != 0 ? 3 + limit : wide_room;
    const std::string_view contents(reinterpret_cast<const char*>(data + 4), size - 4);

    use_configuration(flags & 3);
    const fs::path path = scratch() / "list.sfv";
    write_file(path, contents);
    const std::wstring probe = widen((scratch() / "probe").string());

    const std::uint64_t run_start = korvane::platform::system_time_ticks();
    sfv list;
    FUZZ_CHECK(list.open(widen(path.string()).c_str()) == 0);
    const std::string signature = current_signature();

    bool trusted_tag_line = false;
    bool any_tag_line = false;
    for (const auto& line : split_lines(contents)) {
        any_tag_line = any_tag_line || is_tag_line(line.content);
        // Trusted only with this installation's signature and a folder code.
        const std::string_view text = line.content;
        trusted_tag_line = trusted_tag_line ||
                           text.substr(0, signature.size() + 5) == ";K1-" + signature + "/" ||
                           text.substr(0, signature.size() + 5) == ";K2-" + signature + "/";
    }

    std::vector<entry> entries;
    std::vector<bool> outcomes;
    // One buffer for the whole run, one unit longer than the room it is given.
    std::vector<wchar_t> name(static_cast<std::size_t>(name_room) + 1);
    for (;;) {
        if (stop_early && static_cast<int>(outcomes.size()) == limit) {
            break;
        }
        name[static_cast<std::size_t>(name_room)] = L'#';
        std::uint64_t entry_size = 0;
        std::uint32_t crc = 0;
        int result = list.getNextFile(name.data(), name_room, &entry_size, &crc);
        FUZZ_CHECK(entry_size == ~std::uint64_t{0});
        FUZZ_CHECK(name[static_cast<std::size_t>(name_room)] == L'#');  // stays in its room
        if (result <= 0) {
            FUZZ_CHECK(result == 0 || result == korvane_status::invalid_line ||
                       result == korvane_status::path_error);
            break;
        }
        FUZZ_CHECK(result <= 1023);
        std::size_t length = std::wcslen(name.data());
        FUZZ_CHECK(length < static_cast<std::size_t>(name_room));
        if (length <= round_trip_name_limit) {
            entries.push_back({std::wstring(name.data(), length), crc});
        }
        bool verified = ((pattern >> (outcomes.size() % 16)) & 1) != 0;
        if (ask_previous) {
            int previous = list.isPreviouslyVerified(probe.c_str());
            FUZZ_CHECK(previous == 0 || previous == 1);
            FUZZ_CHECK(previous == 0 || trusted_tag_line);
            // A skipped entry is recorded as verified, as the verification run does.
            verified = verified || previous == 1;
        }
        FUZZ_CHECK(list.setPreviouslyVerified(verified) == 0);
        outcomes.push_back(verified);
    }
    FUZZ_CHECK(list.close() == 0);

    const std::string after = read_file(path);
    // A UTF-16 list (it starts with a byte-order mark) is read, never written.
    const bool utf16 = contents.starts_with("\xFF\xFE") || contents.starts_with("\xFE\xFF");
    const bool updates_allowed = (flags & 3) != 1 && !utf16;
    if (!updates_allowed) {
        FUZZ_CHECK(after == contents);
    } else if (after != contents) {
        check_rewrite(contents, after, outcomes, signature, run_start);
    } else {
        bool any_verified = false;
        for (bool outcome : outcomes) {
            any_verified = any_verified || outcome;
        }
        FUZZ_CHECK(any_tag_line || !any_verified);
    }

    check_round_trip(entries);
    return 0;
}
