// Digest lists in the common "digest, space, marker, name" layout: one class
// for every algorithm, told its digest length and the name BSD-style lines
// give it. The MD5 list (korvane/md5.h) is one of them.
#ifndef KORVANE_DIGEST_LIST_H
#define KORVANE_DIGEST_LIST_H

#include <cstdint>

#include <korvane/container.h>
#include <korvane/export.h>

class KORVANE_API digest_list : public container {
  public:
    // `size`: bytes of a digest, 1 to 64. `algorithm`: its name in
    // "NAME (file) = digest" lines, a string that outlives the object.
    digest_list(int size, const char* algorithm);
    ~digest_list() override;
    digest_list(const digest_list&) = delete;
    digest_list& operator=(const digest_list&) = delete;

    [[nodiscard]] int open(const wchar_t* path) override;
    [[nodiscard]] int close() override;
    // `hashBytes` receives digest_size bytes.
    [[nodiscard]] int getNextFile(wchar_t* name, int nameSize, std::uint64_t* size,
                                  void* hashBytes) override;
    [[nodiscard]] int isPreviouslyVerified(const wchar_t* path) override;
    [[nodiscard]] int setPreviouslyVerified(bool verified) override;
    [[nodiscard]] int create(const wchar_t* path) override;
    [[nodiscard]] int addFile(const wchar_t* name, const void* hashBytes) override;
    // As addFile(name, hashBytes), with the size and last write time (100-ns
    // ticks since 1601-01-01 UTC) of the file as it was hashed, which the
    // record line shows when records are written; the file is not looked up
    // again.
    [[nodiscard]] int addFile(const wchar_t* name, const void* hashBytes, std::uint64_t size,
                              std::uint64_t writeTime);
    // Whether the next create writes each file's size and modification time
    // in a '#' record line before its entry: as `on` says, rather than as the
    // configuration's "recordtimes" does. Every list but an MD5 list writes
    // its header lines with '#', which the sha*sum tools skip even when
    // strict.
    void writeRecords(bool on);

    static constexpr int max_digest_size = 64;

  protected:
    int digest_size;
    const char* bsd_name;
    // Whose lines the list is written in. korvane's: a header, records on
    // request. Another tool's, with LF line ends and no header, comment or
    // record line, which that tool would take for malformed: b3sum's (the
    // digest, two blanks and the name, escaped only for a backslash or a line
    // feed) or xxhsum's (BSD lines; also read in its other forms).
    enum class line_style : unsigned char { korvane, b3sum, xxhsum };
    line_style lines;
    // Where reading stands in a clear-signed list.
    int signed_state;
};

class KORVANE_API sha1 : public digest_list {
  public:
    sha1();
    ~sha1() override;
};

class KORVANE_API sha256 : public digest_list {
  public:
    sha256();
    ~sha256() override;
};

class KORVANE_API sha512 : public digest_list {
  public:
    sha512();
    ~sha512() override;
};

// BLAKE3 (32-byte digests) in b3sum's lines; reads "BLAKE3 (name) = ..."
// and "BLAKE3-256 (name) = ..." as well.
class KORVANE_API blake3_list : public digest_list {
  public:
    blake3_list();
    ~blake3_list() override;
};

#endif
