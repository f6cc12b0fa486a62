// The table of list types. Everything else that knows a type goes by it.
#include <korvane/list_types.h>

#include <korvane/digest_list.h>
#include <korvane/md5.h>
#include <korvane/sfv.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string_view>

#include "hash/hashers.h"
#include "platform/text.h"

namespace {

template <class kind_of_list>
std::unique_ptr<container> make(const list_type&) noexcept {
    return std::unique_ptr<container>(new (std::nothrow) kind_of_list);
}

// A digest list told its digest length and BSD name by its row: a new digest
// type needs no class of its own.
std::unique_ptr<container> make_digest_list(const list_type& type) noexcept {
    return std::unique_ptr<container>(new (std::nothrow)
                                          digest_list(type.digest_size, type.bsd_name));
}

using algorithm = file_jobs::algorithm;
using form = list_type::line_form;

// In the order the types were added, which is also their number: a new one
// goes at the end. The order settles content typing between two types of one
// digest length in favour of the older (list_type::line_form says how).
constexpr list_type types[] = {
    {.word = L"sfv",
     .extensions = {L".sfv"},
     .bare_names = {},
     .digest_size = 4,
     .bsd_name = "",
     .form = form::crc,
     .algorithm = algorithm::crc32,
     .make_list_of = make<sfv>,
     .carries_tag = true},
    {.word = L"md5",
     .extensions = {L".md5", L".md5sum"},
     .bare_names = {L"MD5SUMS"},
     .digest_size = 16,
     .bsd_name = "MD5",
     .form = form::digest,
     .algorithm = algorithm::md5,
     .make_list_of = make<md5>,
     .carries_tag = false},
    {.word = L"sha1",
     .extensions = {L".sha1", L".sha1sum"},
     .bare_names = {L"SHA1SUMS"},
     .digest_size = 20,
     .bsd_name = "SHA1",
     .form = form::digest,
     .algorithm = algorithm::sha1,
     .make_list_of = make<sha1>,
     .carries_tag = false},
    {.word = L"sha256",
     .extensions = {L".sha256", L".sha256sum"},
     .bare_names = {L"SHA256SUMS"},
     .digest_size = 32,
     .bsd_name = "SHA256",
     .form = form::digest,
     .algorithm = algorithm::sha256,
     .make_list_of = make<sha256>,
     .carries_tag = false},
    {.word = L"sha512",
     .extensions = {L".sha512", L".sha512sum"},
     .bare_names = {L"SHA512SUMS"},
     .digest_size = 64,
     .bsd_name = "SHA512",
     .form = form::digest,
     .algorithm = algorithm::sha512,
     .make_list_of = make<sha512>,
     .carries_tag = false},
    // b3sum's lines (digest_list::line_style::b3sum); a plain line is SHA-256's
    // to content typing, the BSD tag or the list's name gives BLAKE3.
    {.word = L"blake3",
     .extensions = {L".b3", L".blake3"},
     .bare_names = {L"B3SUMS", L"BLAKE3SUMS"},
     .digest_size = 32,
     .bsd_name = "BLAKE3",
     .form = form::digest,
     .algorithm = algorithm::blake3,
     .make_list_of = make<blake3_list>,
     .carries_tag = false},
    {.word = L"xxh64",
     .extensions = {L".xxh64"},
     .bare_names = {},
     .digest_size = 8,
     .bsd_name = "XXH64",
     .form = form::xxhsum,
     .algorithm = algorithm::xxh64,
     .make_list_of = make_digest_list,
     .carries_tag = false},
    {.word = L"xxh3",
     .extensions = {L".xxh3"},
     .bare_names = {},
     .digest_size = 8,
     .bsd_name = "XXH3",
     .form = form::xxhsum,
     .algorithm = algorithm::xxh3,
     .make_list_of = make_digest_list,
     .carries_tag = false},
    {.word = L"xxh128",
     .extensions = {L".xxh128"},
     .bare_names = {},
     .digest_size = 16,
     .bsd_name = "XXH128",
     .form = form::xxhsum,
     .algorithm = algorithm::xxh128,
     .make_list_of = make_digest_list,
     .carries_tag = false},
};

constexpr int max_bsd_name = 14;

constexpr int type_count = static_cast<int>(sizeof types / sizeof types[0]);

constexpr int text_length(const char* text) {
    int length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

constexpr bool rows_fit() {
    for (const list_type& type : types) {
        if (type.digest_size < 1 || type.digest_size > file_jobs::digest_room ||
            type.digest_size > digest_list::max_digest_size || type.word == nullptr ||
            type.bsd_name == nullptr || (type.form == form::crc && type.digest_size != 4) ||
            (type.form != form::crc && type.bsd_name[0] == '\0') ||
            text_length(type.bsd_name) > max_bsd_name) {
            return false;
        }
    }
    return true;
}
// A digest or xxhsum row needs its BSD name: an empty one would take every line for a
// BSD line. An xxhsum line's text starts with it (digest_list::addFile).
static_assert(rows_fit(), "a list type's digest must fit the results and the lists");

}  // namespace

int list_type::count() noexcept {
    return type_count;
}

const list_type* list_type::at(int index) noexcept {
    return index >= 0 && index < type_count ? &types[index] : nullptr;
}

std::unique_ptr<container> list_type::make_list() const noexcept {
    return make_list_of(*this);
}

bool list_type::can_hold_name(const wchar_t* name, std::size_t length) const noexcept {
    if (form == line_form::digest) {
        return true;
    }
    const std::wstring_view text(name, length);
    return text.find_first_of(form == line_form::crc ? L"\r\n" : L"\n") == std::wstring_view::npos;
}

korvane::owned_hasher list_type::make_hasher() const noexcept {
    return korvane::detail::make_hasher(algorithm);
}

void list_type::digest_text(const void* digest, wchar_t* text) const noexcept {
    namespace platform = korvane::platform;
    if (form == line_form::crc) {
        std::uint32_t value;
        std::memcpy(&value, digest, sizeof value);
        platform::encode_hex32(value, text, platform::hex_case::upper);
        text[8] = L'\0';
        return;
    }
    platform::encode_hex(static_cast<const unsigned char*>(digest),
                         static_cast<std::size_t>(digest_size), text, platform::hex_case::lower);
    text[2 * digest_size] = L'\0';
}
