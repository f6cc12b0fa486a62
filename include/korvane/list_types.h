// The types of checksum list, one row each: the word -t takes, the file names
// that give the type, how its lines look, which algorithm hashes its files,
// and the objects that read and write it. Option parsing, typing a list by
// its name or its content, the workers' algorithm and the digest text of a
// report all go by these rows, so that a new type is one more row.
#ifndef KORVANE_LIST_TYPES_H
#define KORVANE_LIST_TYPES_H

#include <cstddef>
#include <memory>

#include <korvane/export.h>
#include <korvane/hasher.h>
#include <korvane/jobs.h>

class container;

struct KORVANE_API list_type {
    // How a type's entry lines look. Content typing (container::detectFormat)
    // tries digest, then xxhsum, then crc, and within a form the rows in the
    // order of the table: a CRC line is the loosest rule (any line that ends
    // in eight digits), and of two types whose digests are equally long the
    // older one takes a plain line, the newer one only its BSD lines (or its
    // prefixed ones).
    enum class line_form {
        digest,  // "DIGEST *NAME" or "ALG (NAME) = DIGEST": the bytes in lower-case digits
        crc,     // "NAME CRC": the 32-bit value in eight upper-case digits
        // As digest, and also "ALG_DIGEST  NAME" (newer xxhsum's XXH3); written
        // as "ALG (NAME) = DIGEST" alone, lines ending in a line feed, no header,
        // comment or record line and no escape: what every xxhsum reads.
        xxhsum,
    };
    using list_maker = std::unique_ptr<container> (*)(const list_type& type) noexcept;

    static constexpr int max_names = 4;
    // Room for the digest text of any type, with its terminating NUL.
    static constexpr int digest_text_room = 2 * file_jobs::digest_room + 1;

    const wchar_t* word;                   // after -t, ASCII case ignored
    const wchar_t* extensions[max_names];  // with the dot, ASCII case ignored; null after the last
    const wchar_t* bare_names[max_names];  // whole names, as releases publish them
    int digest_size;                       // bytes
    const char* bsd_name;                  // the algorithm in BSD lines; empty for none
    line_form form;                        // the content rule and the digest text
    file_jobs::algorithm algorithm;        // what the workers hash the files with
    list_maker make_list_of;               // see make_list
    bool carries_tag;                      // its lists are `sfv`: remembered verifications

    // The rows, numbered from 0 as container::detectFormat numbers the types;
    // a new type goes at the end. Row 0, SFV, is the type of a list when
    // nothing says otherwise.
    static int count() noexcept;
    static const list_type* at(int index) noexcept;  // null outside 0 to count() - 1
    static constexpr int default_type = 0;

    // A new, empty list object of this type; null when memory is short.
    std::unique_ptr<container> make_list() const noexcept;
    // Whether a list of this type can hold the name of `length` units: a
    // digest list escapes line breaks; an SFV line ends at a line feed or a
    // carriage return, an xxhsum line at a line feed.
    bool can_hold_name(const wchar_t* name, std::size_t length) const noexcept;
    // A new hasher of this type's algorithm; null when memory is short.
    korvane::owned_hasher make_hasher() const noexcept;
    // The text of `digest` (digest_size bytes) as this type's lists write
    // it, in 2 * digest_size units and a NUL at `text`.
    void digest_text(const void* digest, wchar_t* text) const noexcept;
};

#endif
