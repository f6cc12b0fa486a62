// The digest-list reader driven like a verification run, as an MD5 list, or
// as the SHA or xxHash list its content shows. Properties: a delivered entry came from a
// line that is no comment and fits the caller's room; reading never changes
// the file; a list read as the type its content detection names does not stop
// at its first entry line; every entry delivered whose name can be
// written, written again by create/addFile/close, reads back with the same
// name and digest (a name holding a line feed, as escaped lines give, makes
// the write fail).
//
// Input: 1 control byte, then the MD5 file. Control bit 7 gives a name buffer
// of 3 + (bits 0-6) units instead of a roomy one.
#include <korvane/digest_list.h>
#include <korvane/list_types.h>
#include <korvane/md5.h>
#include <korvane/status.h>

#include <array>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "lines.h"
#include "support.h"

namespace fs = std::filesystem;
using namespace korvane::fuzz;

namespace {

constexpr int wide_room = 1024;

using digest_bytes = std::array<unsigned char, digest_list::max_digest_size>;

struct entry {
    std::wstring name;
    digest_bytes digest;
};

// MD5 unless the content names a SHA or xxHash type.
std::unique_ptr<digest_list> make_list(int type) {
    switch (type) {
        case 2:
            return std::make_unique<sha1>();
        case 3:
            return std::make_unique<sha256>();
        case 4:
            return std::make_unique<sha512>();
        default:
            break;
    }
    const list_type* row = list_type::at(type);
    if (type > 4 && row != nullptr && row->form != list_type::line_form::crc) {
        return std::make_unique<digest_list>(row->digest_size, row->bsd_name);
    }
    return std::make_unique<md5>();
}

void check_round_trip(const std::vector<entry>& entries, int type) {
    const fs::path target = scratch() / "again.md5";
    {
        auto made = make_list(type);
        digest_list& list = *made;
        FUZZ_CHECK(list.create(widen(target.string()).c_str()) == 0);
        for (const auto& e : entries) {
            FUZZ_CHECK(list.addFile(e.name.c_str(), e.digest.data()) == 0);
        }
        // A name with a line break goes in the escaped form, which reads back
        // as the name itself.
        FUZZ_CHECK(list.close() == 0);
    }
    auto again = make_list(type);
    digest_list& list = *again;
    FUZZ_CHECK(list.open(widen(target.string()).c_str()) == 0);
    for (const auto& e : entries) {
        wchar_t name[wide_room];
        digest_bytes digest{};
        std::uint64_t size = 0;
        FUZZ_CHECK(list.getNextFile(name, wide_room, &size, digest.data()) > 0);
        FUZZ_CHECK(e.name == name);
        FUZZ_CHECK(e.digest == digest);
    }
    wchar_t name[wide_room];
    digest_bytes digest{};
    std::uint64_t size = 0;
    FUZZ_CHECK(list.getNextFile(name, wide_room, &size, digest.data()) == 0);
    FUZZ_CHECK(list.close() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    write_config("");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const int name_room = (data[0] & 0x80) != 0 ? 3 + (data[0] & 0x7f) : wide_room;
    const std::string_view contents(reinterpret_cast<const char*>(data + 1), size - 1);
    const fs::path path = scratch() / "list.md5";
    write_file(path, contents);

    // Lines that could be entries: any that is not a comment.
    std::size_t candidate_lines = 0;
    bool long_lines = false;
    for (const auto& line : split_lines(contents)) {
        std::string_view text = line.content;
        long_lines = long_lines || text.size() >= 1023;
        candidate_lines += !text.empty() && text[0] != ';' && text[0] != '#' ? 1 : 0;
    }
    int format = -2;
    const int detected = container::detectFormat(widen(path.string()).c_str(), &format);
    // Any row may be named by the content: 16 digits are XXH64's, for one.
    FUZZ_CHECK((detected == 0 && format >= -1 && format < list_type::count()) ||
               (detected == korvane_status::invalid_line && format == -1));

    const int type = format >= 2 ? format : 1;
    const int shortest_line = 2 * list_type::at(type)->digest_size + 2;
    std::vector<entry> entries;
    {
        auto opened = make_list(type);
        digest_list& list = *opened;
        FUZZ_CHECK(list.open(widen(path.string()).c_str()) == 0);
        // One buffer for the whole run, one unit longer than the room it is given.
        std::vector<wchar_t> name(static_cast<std::size_t>(name_room) + 1);
        int outside_lines = 0;
        for (;;) {
            name[static_cast<std::size_t>(name_room)] = L'#';
            std::uint64_t entry_size = 0;
            digest_bytes digest{};
            int result = list.getNextFile(name.data(), name_room, &entry_size, digest.data());
            FUZZ_CHECK(entry_size == ~std::uint64_t{0});
            FUZZ_CHECK(name[static_cast<std::size_t>(name_room)] == L'#');
            if (result == korvane_status::outside_signed_text) {
                ++outside_lines;
                // A line of a signed list outside its signed text: no entry,
                // and the reading goes on.
                FUZZ_CHECK(std::wcslen(name.data()) < static_cast<std::size_t>(name_room));
                FUZZ_CHECK(contents.find("-----BEGIN PGP SIGNED MESSAGE-----") !=
                           std::string_view::npos);
                continue;
            }
            if (result <= 0) {
                FUZZ_CHECK(result == 0 || result == korvane_status::invalid_line ||
                           result == korvane_status::path_error);
                // (A name holding a zero byte is refused whatever its line's form.)
                FUZZ_CHECK(!(format == type && entries.empty() && outside_lines == 0 &&
                             result == korvane_status::invalid_line &&
                             contents.find('\0') == std::string_view::npos));
                break;
            }
            // The shortest line: the digits, a blank and a name of one unit.
            FUZZ_CHECK(result >= shortest_line && result <= 1023);
            std::size_t length = std::wcslen(name.data());
            FUZZ_CHECK(length < static_cast<std::size_t>(name_room));
            entries.push_back({std::wstring(name.data(), length), digest});
            FUZZ_CHECK(list.isPreviouslyVerified(L"x") == 0);
            FUZZ_CHECK(list.setPreviouslyVerified(true) == 0);
        }
        FUZZ_CHECK(list.close() == 0);
    }
    // Longer lines arrive in pieces, each read as a line of its own.
    FUZZ_CHECK(long_lines || entries.size() <= candidate_lines);
    FUZZ_CHECK(read_file(path) == contents);

    // Names the type's lines cannot carry (a line break in an xxhsum list)
    // never reach a list: the program refuses them before hashing.
    const list_type& row = *list_type::at(type);
    std::erase_if(entries, [&row](const entry& e) {
        return !row.can_hold_name(e.name.c_str(), e.name.size());
    });
    check_round_trip(entries, type);
    return 0;
}
