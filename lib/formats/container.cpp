#include <korvane/container.h>
#include <korvane/version.h>

#include <cwchar>
#include <new>

#include "formats/lines.h"
#include "formats/records.h"
#include "formats/spool.h"
#include "formats/stream.h"
#include "formats/tag.h"
#include "formats/update.h"
#include "platform/fault.h"
#include "platform/interrupt.h"
#include "status.h"

using korvane::status;
using korvane::to_int;

container::container() : file(nullptr), entries(nullptr), creating(0), line{}, records(nullptr) {}

container::~container() {
    update.reset();
    file.reset();     // discards an unfinished new list, writes nothing
    entries.reset();  // its scratch files have no name: nothing remains
}

void container::dropEntries() {
    if (entries != nullptr) {
        entries->drop();
    }
}

int container::startEntries(const wchar_t* path, int streams) {
    try {
        if (entries == nullptr) {
            entries = std::make_unique<korvane::detail::entry_spool>();
        }
        entries->start(path, streams);
    } catch (const std::bad_alloc&) {
        dropEntries();
        return to_int(status::unknown_error);
    }
    return 0;
}

int container::spoolEntry(const wchar_t* name, const char* hash_text, std::uint64_t size,
                          std::uint64_t time, entry_formatter format) {
    if (korvane::platform::injected_allocation_fault()) {
        return to_int(status::unknown_error);
    }
    if (entries == nullptr || !entries->active()) {
        return 0;  // no list being created: nothing would be written
    }
    if (update != nullptr && update->replacing) {
        return replaceWith(name, hash_text, size, time, format);
    }
    try {
        return to_int(entries->add(name, hash_text, size, time, format));
    } catch (const std::bad_alloc&) {
        return to_int(status::unknown_error);  // the entry was not taken; the list stays usable
    }
}

int container::commitEntries() {
    status result = status::ok;
    {
        // An interrupt while the list is written waits until it is in place,
        // so that neither a half-written temporary file nor a missing list
        // remains.
        korvane::platform::interrupt_deferral hold_interrupts;
        if (entries != nullptr && entries->active()) {
            result = entries->join(*file);
        }
        if (result == status::ok) {
            result = file->commit();
        }
        // The target now holds the complete new list, or is as it was before.
        file.reset();
    }
    dropEntries();
    return to_int(result);
}

int container::readFileString(wchar_t* buffer, int count) {
    if (file == nullptr) {
        return to_int(status::file_not_found);
    }
    int length = 0;
    status result = file->read_line(buffer, count, length);
    return result != status::ok ? to_int(result) : length;
}

int container::openStream(const wchar_t* path, bool writable) {
    return startStream(path, false, writable);
}

int container::createStream(const wchar_t* path) {
    return startStream(path, true, true);
}

int container::startStream(const wchar_t* path, bool create, bool writable) {
    update.reset();
    holds_signature = false;
    file.reset();
    dropEntries();
    if (path == nullptr) {
        return to_int(status::invalid_arguments);
    }
    std::unique_ptr<korvane::detail::checksum_stream> stream(
        new (std::nothrow) korvane::detail::checksum_stream());
    if (stream == nullptr) {
        return to_int(status::unknown_error);
    }
    status result = create ? stream->create_for(path) : stream->open_existing(path, writable);
    if (result != status::ok) {
        return to_int(result);
    }
    file = std::move(stream);
    return 0;
}

void container::resolveNamesIn(const wchar_t* folder) {
    if (file == nullptr || folder == nullptr) {
        return;
    }
    korvane::detail::resolve_name_folder(folder, file->folder);
}

const char* container::namesFolderCode() const {
    return file != nullptr ? file->folder.expected.c_str() : "";
}

int container::writeHeader(const char* first_line) {
    return writeHeader(first_line, ';');
}

int container::writeHeader(const char* first_line, char comment) {
    // Kept in memory until the list is written: whether the folder takes a
    // new file at all was tried when the stream was created.
    status result = file->write(first_line);
    if (result == status::ok) {
        const char rest[] = {comment, ' ', 'h', 't', 't',  'p',  's',     ':',  '/',
                             '/',     'k', 'o', 'r', 'v',  'a',  'n',     'e',  '.',
                             'o',     'r', 'g', '/', '\r', '\n', comment, '\r', '\n'};
        result = file->write(std::string_view(rest, sizeof rest));
    }
    return to_int(result);
}

int container::readEntryLine() {
    line_start = file != nullptr ? file->tell() : 0;
    return readFileString(line, line_capacity);
}

int container::readEntryLineSkippingComments(std::uint64_t* size) {
    if (size != nullptr) {
        *size = ~std::uint64_t{0};
    }
    for (;;) {
        const int length = readEntryLine();
        if (length <= 0 || line[0] != L';') {
            return length;
        }
        if (records != nullptr && records->sfv_comments && !file->line_cut()) {
            records->note_sfv_comment(line, length);
        }
        if (const int skipped = skipRestOfLine(); skipped != 0) {
            return skipped;
        }
    }
}

void container::startRecords(bool sfv) {
    if (records == nullptr) {
        records.reset(new (std::nothrow) korvane::detail::list_records());
    }
    if (records != nullptr) {
        records->start_reading(sfv);
    }
}

int container::noteRecordLine(const wchar_t* text, int length, bool trusted) {
    if (trusted && records != nullptr && file != nullptr && !file->line_cut()) {
        records->note_digest_comment(text, length);
    }
    return skipRestOfLine();
}

int container::skipRestOfLine() {
    if (file == nullptr || !file->line_cut()) {
        return 0;
    }
    bool dropped = false;
    return to_int(file->copy_line(nullptr, dropped));
}

void container::settleEntryRecord(const wchar_t* name, int length) {
    if (name != nullptr && update != nullptr && line_start < update->first_entry) {
        update->first_entry = line_start;
    }
    if (records == nullptr) {
        return;
    }
    if (name == nullptr) {
        records->current = file_record{};
        records->pending = false;
        return;
    }
    records->settle_entry(name, length);
}

const file_record& container::entryRecord() const {
    static const file_record nothing{};
    return records != nullptr ? records->current : nothing;
}

std::uint64_t container::irregularChecksumLine() const {
    return file != nullptr ? file->irregular_line : 0;
}

bool container::hasRecords() const {
    return records != nullptr && records->any;
}

int container::deliverName(const wchar_t* text, int length, wchar_t* name, int nameSize) {
    if (name == nullptr || nameSize <= 0) {
        return to_int(status::path_error);
    }
    korvane::detail::copy_fitting(text, length, name, nameSize);
    if (nameSize <= length) {
        return to_int(status::path_error);  // not delivered: the cut text is only for a message
    }
    // No file name holds a zero unit: delivered, the name would end there and
    // name another file ("a.txt" for "a.txt<NUL>x").
    if (std::wmemchr(text, L'\0', static_cast<std::size_t>(length)) != nullptr) {
        return to_int(status::invalid_line);
    }
    return 0;
}
