// The update of an opened list (see container::beginUpdate); the rewrite
// itself is formats/update.cpp.
#include <korvane/container.h>

#include <new>
#include <utility>

#include "formats/records.h"
#include "formats/spool.h"
#include "formats/stream.h"
#include "formats/update.h"
#include "platform/interrupt.h"
#include "platform/text.h"
#include "status.h"

using korvane::status;
using korvane::to_int;

int container::beginUpdate() {
    if (file == nullptr || creating != 0) {
        return to_int(status::file_not_open);
    }
    if (holds_signature) {
        return to_int(status::outside_signed_text);
    }
    if (file->utf16()) {
        // Its lines are copied byte for byte, and every position is one of
        // the UTF-8 text it is read as: refused rather than rewritten.
        return to_int(status::utf16_list);
    }
    // A list nobody may write is refused before anything is hashed for it;
    // the rewrite checks again.
    if (const status writable = file->check_rewritable(); writable != status::ok) {
        return to_int(writable);
    }
    try {
        update = std::make_unique<korvane::detail::list_update>();
        update->sfv = records != nullptr && records->sfv_comments;
        const std::uint64_t position = file->tell();
        const std::uint64_t lines = file->lines_read();
        status result = file->seek(0);
        if (result == status::ok) {
            result = korvane::detail::ends_lines_with_lf(*file, update->lf);
        }
        if (result == status::ok) {
            result = file->seek(position);
            file->restore_lines_read(lines);
        }
        if (result != status::ok) {
            update.reset();
            return to_int(result);
        }
        if (entries == nullptr) {
            entries = std::make_unique<korvane::detail::entry_spool>();
        }
        entries->start(file->path().c_str(), update->sfv ? 2 : 1);
        entries->end_lines_with_lf(update->lf);
    } catch (const std::bad_alloc&) {
        update.reset();
        return to_int(status::unknown_error);
    }
    return 0;
}

std::uint64_t container::entryPosition() const {
    return line_start;
}

std::uint64_t container::lineNumber() {
    return file != nullptr ? file->line_number() : 0;
}

int container::dropEntry(std::uint64_t position, const wchar_t* name) {
    if (update == nullptr) {
        return to_int(status::file_not_open);
    }
    try {
        if (update->sfv && name != nullptr) {
            std::string bytes;
            if (korvane::platform::narrow(name, bytes)) {
                update->unrecorded.push_back({std::move(bytes)});
            }
        }
        update->edits.push_back({position, 0, 0, true});
    } catch (const std::bad_alloc&) {
        return to_int(status::unknown_error);
    }
    return 0;
}

int container::replaceEntry(std::uint64_t position) {
    if (update == nullptr) {
        return to_int(status::file_not_open);
    }
    update->replacing = true;
    update->replace_at = position;
    return 0;
}

int container::replaceWith(const wchar_t* name, const char* hash_text, std::uint64_t size,
                           std::uint64_t time, entry_formatter format) {
    update->replacing = false;
    std::string lines[korvane::detail::entry_spool::max_streams];
    const int count = update->sfv ? 2 : 1;
    status result = entries->format_lines(name, hash_text, size, time, format, lines, count);
    if (result != status::ok) {
        return to_int(result);
    }
    const std::string& entry_line = lines[count - 1];
    update->edits.push_back({update->replace_at, update->texts.size(), entry_line.size(), false});
    update->texts += entry_line;
    if (update->sfv) {
        std::string bytes;
        (void)korvane::platform::narrow(name, bytes);
        update->unrecorded.push_back({std::move(bytes)});
        update->new_records += lines[0];
    }
    return 0;
}

int container::commitUpdate() {
    if (update == nullptr || file == nullptr || entries == nullptr) {
        return to_int(status::file_not_open);
    }
    status result = status::unknown_error;
    try {
        result = korvane::detail::write_update(*file, *update, *entries);
    } catch (...) {
        // Out of memory in the rewrite: its temporary file went with its
        // stream, and the old list stays.
        result = status::unknown_error;
    }
    update.reset();
    file.reset();
    dropEntries();
    return to_int(result);
}

bool container::writesRecords() const {
    if (records == nullptr) {
        return false;
    }
    return update != nullptr ? records->any : records->writing;
}
