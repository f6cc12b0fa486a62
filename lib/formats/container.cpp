#include <korvane/container.h>
#include <korvane/version.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "formats/lines.h"
#include "formats/stream.h"
#include "formats/tag.h"
#include "platform/fault.h"
#include "platform/interrupt.h"
#include "status.h"

using korvane::status;
using korvane::to_int;

namespace {

// Entries and their texts in one block; the texts follow the record.
struct entry_block {
    file_entry entry;
    char text[1];
};

}  // namespace

file_entry* file_entry::make(const wchar_t* name, const char* hash_text) {
    std::size_t name_length = std::wcslen(name);
    std::size_t hash_length = std::strlen(hash_text);
    std::size_t bytes = offsetof(entry_block, text) + name_length + 1 + hash_length + 1;
    void* memory = korvane::platform::injected_allocation_fault()
                       ? nullptr
                       : ::operator new(bytes, std::nothrow);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* block = static_cast<entry_block*>(memory);
    char* text = reinterpret_cast<char*>(memory) + offsetof(entry_block, text);
    bool writable = true;
    std::size_t kept = 0;
    for (; kept < name_length; ++kept) {
        auto unit = static_cast<unsigned long>(name[kept]);
        if (unit > 0xFF) {
            writable = false;
            break;
        }
        text[kept] = static_cast<char>(static_cast<unsigned char>(unit));
    }
    text[kept] = '\0';
    char* hash = text + name_length + 1;
    std::memcpy(hash, hash_text, hash_length + 1);
    auto* entry = new (&block->entry) file_entry{nullptr, text, hash, 0, 0, writable};
    return entry;
}

void file_entry::destroy(file_entry* entry) {
    if (entry != nullptr) {
        entry->~file_entry();
        ::operator delete(static_cast<void*>(entry));
    }
}

container::container()
    : file(nullptr), first_entry(nullptr), last_entry(&first_entry), creating(0), line{} {}

container::~container() {
    file.reset();  // discards an unfinished new list, writes nothing
    freeEntries();
}

void container::freeEntries() {
    // Iteratively: a list of millions of records must not recurse.
    file_entry* entry = first_entry;
    while (entry != nullptr) {
        file_entry* next = entry->next;
        file_entry::destroy(entry);
        entry = next;
    }
    first_entry = nullptr;
    last_entry = &first_entry;
}

void container::appendEntry(file_entry* entry) {
    *last_entry = entry;
    last_entry = &entry->next;
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
    file.reset();
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

int container::writeHeader(const char* first_line) {
    // Kept in memory until the list is written: whether the folder takes a
    // new file at all was tried when the stream was created.
    status result = file->write(first_line);
    if (result == status::ok) {
        result = file->write("; https://korvane.org/\r\n;\r\n");
    }
    return to_int(result);
}

int container::commitEntries(int passes, entry_formatter format) {
    // An interrupt while the list is written waits until it is in place, so
    // that neither a half-written temporary file nor a missing list remains.
    korvane::platform::interrupt_deferral hold_interrupts;
    status result = status::ok;
    std::string out;
    for (int pass = 0; pass < passes && result == status::ok; ++pass) {
        for (file_entry* entry = first_entry; entry != nullptr; entry = entry->next) {
            if (!entry->writable) {
                result = status::unknown_error;
                break;
            }
            if (!korvane::detail::is_line_safe(entry->name)) {
                result = status::path_error;
                break;
            }
            format(*entry, pass, out);
            out += "\r\n";
            if (out.size() >= 64 * 1024) {
                result = file->write(out);
                out.clear();
                if (result != status::ok) {
                    break;
                }
            }
        }
    }
    if (result == status::ok) {
        result = file->write(out);
    }
    if (result == status::ok) {
        result = file->commit();
    }
    // The target now holds the complete new list, or is as it was before.
    file.reset();
    return to_int(result);
}

int container::readEntryLine() {
    return readFileString(line, line_capacity);
}

int container::readEntryLineSkippingComments(std::uint64_t* size) {
    if (size != nullptr) {
        *size = ~std::uint64_t{0};
    }
    int length;
    do {
        length = readEntryLine();
    } while (length > 0 && line[0] == L';');
    return length;
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
