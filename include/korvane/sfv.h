// SFV checksum files: one CRC-32 per listed file, plus the previously-verified
// tag that lets later runs skip entries which verified and have not changed.
#ifndef KORVANE_SFV_H
#define KORVANE_SFV_H

#include <cstdint>

#include <korvane/container.h>
#include <korvane/export.h>

namespace korvane::detail {
class settings_source;
}

class KORVANE_API sfv : public container {
  public:
    sfv();
    ~sfv() override;
    sfv(const sfv&) = delete;
    sfv& operator=(const sfv&) = delete;

    [[nodiscard]] int open(const wchar_t* path) override;
    [[nodiscard]] int close() override;
    [[nodiscard]] int getNextFile(wchar_t* name, int nameSize, std::uint64_t* size,
                                  void* hashBytes) override;
    [[nodiscard]] int isPreviouslyVerified(const wchar_t* path) override;
    // As isPreviouslyVerified, for the entry at `index` (counted from 0)
    // rather than the one the list stands at, for a caller that reads ahead
    // of the outcomes it records; the list's position does not move. 0 for an
    // entry past the tag's capacity.
    [[nodiscard]] int isPreviouslyVerifiedAt(std::int64_t index, const wchar_t* path);
    [[nodiscard]] int setPreviouslyVerified(bool verified) override;
    [[nodiscard]] int create(const wchar_t* path) override;
    [[nodiscard]] int addFile(const wchar_t* name, const void* hashBytes) override;
    // As addFile(name, hashBytes), with the size and last write time (100-ns
    // ticks since 1601-01-01 UTC) of the file as it was hashed, which the
    // comment lines show; the file is not looked up again.
    [[nodiscard]] int addFile(const wchar_t* name, const void* hashBytes, std::uint64_t size,
                              std::uint64_t writeTime);

    // The name of the file system on which this run could not trust a
    // remembered verification, because it may not keep a change time (the
    // folder's own, or one mounted below it); null when there was none. Valid
    // while the list is open; asks about the folder if nothing did yet.
    [[nodiscard]] const wchar_t* untrustedFileSystem();

    // This object writes no tag from now on, whatever it verifies (also
    // after another open): one of several runs that each check a part of the
    // list, whose verdicts only together say what the tag may hold.
    void leaveTagUnwritten();
    // The tag this run writes carries a time no later than `ticks` (100-ns
    // ticks since 1601-01-01 UTC): verdicts gathered by runs that started
    // earlier hold only for files unchanged since then.
    void stampTagNoLaterThan(std::uint64_t ticks);

    static constexpr int bit_bytes = 32768;  // one bit per entry: 262,144 entries

  protected:
    // open, create and close with the settings taken from `settings` instead
    // of the user's configuration store.
    int open(const wchar_t* path, korvane::detail::settings_source& settings);
    int create(const wchar_t* path, korvane::detail::settings_source& settings);
    int close(korvane::detail::settings_source& settings);

    void resetTag();
    // Both with the configuration store's settings.
    void readTag();
    [[nodiscard]] int writeTag();
    void readTag(korvane::detail::settings_source& settings);
    [[nodiscard]] int writeTag(korvane::detail::settings_source& settings);
    // Drops a tag written by a run whose names resolved against another folder.
    void settleTagFolder();
    // In an update, notes the entry just read for the tag the new list
    // carries; the first entry settles whether it carries one.
    void carryTagEntry();
    [[nodiscard]] bool tagCarriesOver();

    unsigned char verified_bits[bit_bytes];
    bool tag_rejected;
    bool tag_changed;
    std::int32_t bit_index;
    std::int32_t bit_mask;
    std::uint64_t tag_time;

    // A tag of version 1 or 2 with this installation's signature was found.
    bool tag_found;
    // This run neither trusts nor writes a tag: no signature could be kept,
    // or the folder's change times cannot be relied on.
    bool tag_disabled;
    // The time stamp a rewritten tag carries: when open read the tag, a little
    // earlier for file systems with coarse time stamps.
    std::uint64_t stamp_time;
    bool tag_left_unwritten;
};

#endif
