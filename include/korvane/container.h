// Checksum files: the abstract container that the SFV and MD5 formats share,
// and the record in which a creation run collects its entries.
#ifndef KORVANE_CONTAINER_H
#define KORVANE_CONTAINER_H

#include <cstdint>
#include <memory>
#include <string>

#include <korvane/export.h>

namespace korvane::detail {
class checksum_stream;
}

// One entry of a list being created. Records are allocated with their texts in
// one block sized to what they hold, so that very large lists stay small in
// memory. The texts are stored as the bytes they become in the file.
struct KORVANE_API file_entry {
    file_entry* next;
    const char* name;       // the whole name passed to addFile, terminated
    const char* hash_text;  // the checksum as the format writes it, terminated
    std::uint64_t time;     // format-defined; SFV: last modification, 100-ns ticks since 1601
    std::uint64_t size;     // bytes, from the file system when the entry was added
    // False when the name holds a unit that cannot be written as one byte; the
    // name then holds the units before it, and writing the list fails.
    bool writable;

    // Returns null when memory runs out.
    static file_entry* make(const wchar_t* name, const char* hash_text);
    static void destroy(file_entry* entry);
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

  protected:
    // The next non-empty line: at most count - 1 units, longer lines come in
    // pieces. Returns its length, 0 at the end of the file, or a status.
    [[nodiscard]] int readFileString(wchar_t* buffer, int count);

    // Shared steps of the formats.
    [[nodiscard]] int openStream(const wchar_t* path, bool writable);
    [[nodiscard]] int createStream(const wchar_t* path);
    // A new stream on `path`, opened or created; it replaces any earlier one.
    [[nodiscard]] int startStream(const wchar_t* path, bool create, bool writable);
    void appendEntry(file_entry* entry);
    void freeEntries();
    // Writes a header line, the maker's line and the ";" line.
    [[nodiscard]] int writeHeader(const char* first_line);
    // Writes `passes` rounds of lines, one per entry and round, as `format`
    // makes them, then puts the new list in place of the target. Stops at an
    // entry that cannot be written (a unit above 255, a line break in its name).
    using entry_formatter = void (*)(const file_entry& entry, int pass, std::string& out);
    [[nodiscard]] int commitEntries(int passes, entry_formatter format);
    // Reads the next line whole (up to line_capacity - 1 units) into `line`.
    [[nodiscard]] int readEntryLine();
    // The next line that is not a comment, as readEntryLine gives it; sets the
    // size slot to all ones, since neither format records sizes to read back.
    [[nodiscard]] int readEntryLineSkippingComments(std::uint64_t* size);
    // Copies `text` of `length` units to the caller's buffer when it fits;
    // -9 otherwise.
    [[nodiscard]] static int deliverName(const wchar_t* text, int length, wchar_t* name,
                                         int nameSize);

    static constexpr int line_capacity = 1024;

    // The open list; null when none is. Owned: the stream is complete only
    // inside the library, which holds every function that destroys it.
    std::unique_ptr<korvane::detail::checksum_stream> file;
    file_entry* first_entry;
    // The link the next record goes into: &first_entry while the list is
    // empty, else the `next` field of the last record.
    file_entry** last_entry;
    std::int32_t creating;
    wchar_t line[line_capacity];  // the line readEntryLine read last
};

#endif
