// Checksum files: the abstract container that the SFV and MD5 formats share,
// and the record of one entry that a creation run writes.
#ifndef KORVANE_CONTAINER_H
#define KORVANE_CONTAINER_H

#include <cstdint>
#include <memory>
#include <string>

#include <korvane/export.h>

namespace korvane::detail {
class checksum_stream;
class entry_spool;
struct list_records;
struct list_update;
}  // namespace korvane::detail

// One entry of a list being created, as handed to the format that writes its
// lines. The texts are the bytes they become in the file.
struct KORVANE_API file_entry {
    const char* name;       // the whole name passed to addFile, terminated
    const char* hash_text;  // the checksum as the format writes it, terminated
    std::uint64_t time;     // format-defined; SFV: last modification, 100-ns ticks since 1601
    std::uint64_t size;     // bytes, from the file system when the entry was added
};

// The clock a recorded time was written on: none when the list records
// nothing for the entry; either when the list does not say who wrote it.
enum class record_clock : std::int32_t { none, utc, local, either };

// What a list records about a listed file besides its digest: its size and
// last modification time as the list's writer saw them (SFV comment lines,
// and the record lines korvane can write into digest lists).
struct file_record {
    std::uint64_t size = 0;
    // 100-ns ticks since 1601-01-01 of the recorded calendar time, read on
    // `clock`.
    std::uint64_t time = 0;
    // Ticks one step of the recorded time spans: 10,000,000 for whole seconds.
    std::uint64_t resolution = 1;
    record_clock clock = record_clock::none;
};

// A file against what its list records of it.
enum class record_match : std::int32_t {
    nothing_recorded,
    unchanged,  // the size as recorded and the time within the allowance
    changed,    // another size or another time
};

class KORVANE_API container {
  public:
    container();
    virtual ~container();
    container(const container&) = delete;
    container& operator=(const container&) = delete;

    // Every operation returns 0 or a negative status code (korvane/status.h);
    // getNextFile also returns a positive line length for a delivered entry.
    [[nodiscard]] virtual int open(const wchar_t* path) = 0;
    [[nodiscard]] virtual int close() = 0;
    [[nodiscard]] virtual int getNextFile(wchar_t* name, int nameSize, std::uint64_t* size,
                                          void* hashBytes) = 0;
    [[nodiscard]] virtual int isPreviouslyVerified(const wchar_t* path) = 0;
    [[nodiscard]] virtual int setPreviouslyVerified(bool verified) = 0;
    [[nodiscard]] virtual int create(const wchar_t* path) = 0;
    [[nodiscard]] virtual int addFile(const wchar_t* name, const void* hashBytes) = 0;

    // The type of list the file at `path` holds, judged by its first line that is
    // not blank, a comment or the framing of a clear-signed list: the number of
    // its row among the list types (korvane/list_types.h: 0 SFV, 1 MD5, 2 SHA-1,
    // 3 SHA-256, 4 SHA-512, newer types after them). `*format` is -1 when no
    // such line exists.
    // Returns 0, -6 when that line fits no type, or the status of a failed open
    // or read.
    [[nodiscard]] static int detectFormat(const wchar_t* path, int* format);

    // Tells an opened list which folder its names resolve against (the
    // working directory, or the folder of a -p option). A remembered
    // verification is trusted only by runs that resolve against the folder of
    // the run that wrote it. Without this call, the list's own folder.
    void resolveNamesIn(const wchar_t* folder);
    // What identifies that folder in a tag (its device, file number and
    // canonical path, digested), or "" when it cannot be identified or no
    // list is open: runs that give the same code resolve names alike.
    [[nodiscard]] const char* namesFolderCode() const;

    // What the list records of the entry getNextFile delivered last; its
    // clock is none when nothing (or nothing unambiguous) was recorded.
    // Valid until the next getNextFile, open or close.
    [[nodiscard]] const file_record& entryRecord() const;
    // The number (from 1) of the list's line that holds the entry getNextFile
    // delivered last, when its checksum field is not in the form its format
    // writes (an SFV checksum that is not eight hexadecimal digits): the
    // entry is read as ever, and a caller may warn of the line. 0 otherwise.
    [[nodiscard]] std::uint64_t irregularChecksumLine() const;
    // Whether any record of a file's size and time was read from the list so
    // far: a rewrite of a list that had them keeps writing them.
    [[nodiscard]] bool hasRecords() const;
    // Whether a file with `size` bytes, last written at `writeTime` (100-ns
    // ticks since 1601-01-01 UTC), is as `record` says: the same size, and a
    // time that lies within the record's resolution, widened by two seconds
    // on either side for volumes (FAT) that keep times to two seconds. A
    // local-time record is compared with the file's time in the local zone;
    // one whose clock is unknown holds if either reading matches.
    [[nodiscard]] static record_match compareRecord(const file_record& record, std::uint64_t size,
                                                    std::uint64_t writeTime);
    // The widening of compareRecord, in ticks.
    static constexpr std::uint64_t coarse_time_allowance = 2 * 10000000ULL;

    // The update of an opened list, which is rewritten to a temporary file
    // beside it and put in its place only when complete. Call beginUpdate
    // right after open; then read the entries with getNextFile, saying what
    // becomes of any that change: dropEntry, or replaceEntry followed by the
    // format's addFile with the entry's new digest; kept entries need no
    // call. addFile without replaceEntry adds an entry. commitUpdate writes:
    // every line the update does not change stays as it stands (comments,
    // other tools' forms, line ends); an SFV list's tag, when a verification
    // in the folder its names resolve against (resolveNamesIn, else the
    // list's own) would trust it, keeps its time and each kept entry's mark,
    // and marks no replaced or added entry; otherwise it is left out, so that
    // it trusts nothing; the new list is made only in the user's own regular
    // file, never through a link, and not at all when the list changed since
    // open (list_changed). A list that is never committed stays untouched.
    // A clear-signed list is refused (outside_signed_text).
    [[nodiscard]] int beginUpdate();
    // Where the line of the entry getNextFile delivered last starts: the
    // handle dropEntry and replaceEntry take.
    [[nodiscard]] std::uint64_t entryPosition() const;
    // The number (from 1) of the line getNextFile read last, the entry it
    // delivered or the line it refused as improperly formatted; 0 when it
    // cannot be told.
    [[nodiscard]] std::uint64_t lineNumber();
    // `name` as getNextFile delivered it.
    [[nodiscard]] int dropEntry(std::uint64_t position, const wchar_t* name);
    [[nodiscard]] int replaceEntry(std::uint64_t position);
    [[nodiscard]] int commitUpdate();

  protected:
    // The next non-empty line: at most count - 1 units, longer lines come in
    // pieces. Returns its length, 0 at the end of the file, or a status.
    [[nodiscard]] int readFileString(wchar_t* buffer, int count);

    // Shared steps of the formats.
    [[nodiscard]] int openStream(const wchar_t* path, bool writable);
    [[nodiscard]] int createStream(const wchar_t* path);
    // A new stream on `path`, opened or created; it replaces any earlier one.
    [[nodiscard]] int startStream(const wchar_t* path, bool create, bool writable);
    // Writes a header line, the maker's line and the ";" line.
    [[nodiscard]] int writeHeader(const char* first_line);
    // As writeHeader, the two lines after the first starting with `comment`.
    [[nodiscard]] int writeHeader(const char* first_line, char comment);
    // The entries of a list being created, written as they come: each entry
    // gives one line to each of `streams` streams (at most two), and the list
    // holds every line of a stream before those of the next. Memory stays
    // bounded: a stream's lines overflow into a scratch file beside the
    // target that no name refers to. Call after createStream.
    [[nodiscard]] int startEntries(const wchar_t* path, int streams);
    // Formats the entry's line of each stream with `format` (without its line
    // end) and adds them. 0, the status of a failed write (the list is then
    // lost: every later call returns it, close writes nothing), or the
    // out-of-memory status (this entry alone is dropped). A name that cannot
    // be written (a unit above 255, a line break) is taken, and close fails.
    using entry_formatter = void (*)(const file_entry& entry, int stream, std::string& out);
    [[nodiscard]] int spoolEntry(const wchar_t* name, const char* hash_text, std::uint64_t size,
                                 std::uint64_t time, entry_formatter format);
    // In an update, the lines that replace the entry replaceEntry named.
    [[nodiscard]] int replaceWith(const wchar_t* name, const char* hash_text, std::uint64_t size,
                                  std::uint64_t time, entry_formatter format);
    // Writes the header and every stream to the list's temporary file and
    // puts it in place of the target; the entries are gone afterwards,
    // whatever the result.
    [[nodiscard]] int commitEntries();
    // Forgets the entries of a list being created; writes nothing.
    void dropEntries();
    // Reads the next line whole (up to line_capacity - 1 units) into `line`.
    [[nodiscard]] int readEntryLine();
    // The next line that is not a comment, as readEntryLine gives it; sets the
    // size slot to all ones, since neither format records sizes to read back.
    [[nodiscard]] int readEntryLineSkippingComments(std::uint64_t* size);
    // Starts reading the records of a list being opened: an SFV list's
    // comment lines (`sfv`), or a digest list's record lines.
    void startRecords(bool sfv);
    // Takes a '#' line of a digest list, which may be a record (noted only
    // when `trusted`), and drops the rest of it when the line buffer cut it.
    // 0 or a status.
    [[nodiscard]] int noteRecordLine(const wchar_t* text, int length, bool trusted);
    // Drops the rest of the line read last when the line buffer cut it, so
    // that no piece of a long comment is read as an entry. 0 or a status.
    [[nodiscard]] int skipRestOfLine();
    // Settles entryRecord for the entry just read, named `name` as the list
    // names it; null for a line that delivers no entry.
    void settleEntryRecord(const wchar_t* name, int length);
    // Copies `text` of `length` units to the caller's buffer when it fits;
    // -9 otherwise.
    [[nodiscard]] static int deliverName(const wchar_t* text, int length, wchar_t* name,
                                         int nameSize);

    // Whether entries added now come with a record of size and time: when
    // created with records, or when updating a list that has them.
    [[nodiscard]] bool writesRecords() const;

    static constexpr int line_capacity = 1024;

    // The open list; null when none is. Owned: the stream is complete only
    // inside the library, which holds every function that destroys it.
    std::unique_ptr<korvane::detail::checksum_stream> file;
    // The entries of a list being created; null until the first creation.
    std::unique_ptr<korvane::detail::entry_spool> entries;
    std::int32_t creating;
    wchar_t line[line_capacity];  // the line readEntryLine read last
    // What the list records of its files' sizes and times; null until a list
    // is opened or created (and when there was no memory for it).
    std::unique_ptr<korvane::detail::list_records> records;
    // The update under way; null when none is.
    std::unique_ptr<korvane::detail::list_update> update;
    // Where the line readEntryLine read last starts (before the empty lines
    // it skipped).
    std::uint64_t line_start = 0;
    // The list opened last holds a clear-signed message: an update would
    // break its signature, so none is begun.
    bool holds_signature = false;
};

#endif
