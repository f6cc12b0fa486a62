#include <korvane/md5.h>
#include <korvane/status.h>
#include <korvane/version.h>

#include <cstring>
#include <string>

#include "formats/lines.h"
#include "formats/stream.h"

namespace {

constexpr int digest_size = 16;
constexpr int name_offset = 34;  // digest, a space, a marker

}  // namespace

md5::md5() = default;

md5::~md5() = default;

int md5::create(const wchar_t* path) {
    creating = 1;
    int status = createStream(path);
    if (status != 0) {
        return status;
    }
    freeEntries();
    status = writeHeader(korvane::detail::header_line(std::string("Korvane ") + g_version).c_str());
    if (status != 0) {
        delete file;
        file = nullptr;
    }
    return status;
}

int md5::addFile(const wchar_t* name, const void* hashBytes) {
    if (name == nullptr || hashBytes == nullptr) {
        return korvane_status::invalid_arguments;
    }
    static constexpr char lower_hex[] = "0123456789abcdef";
    auto* bytes = static_cast<const unsigned char*>(hashBytes);
    char text[2 * digest_size + 1];
    for (int i = 0; i < digest_size; ++i) {
        text[2 * i] = lower_hex[bytes[i] >> 4];
        text[2 * i + 1] = lower_hex[bytes[i] & 15];
    }
    text[2 * digest_size] = '\0';
    file_entry* entry = file_entry::make(name, text);
    if (entry == nullptr) {
        return korvane_status::unknown_error;
    }
    appendEntry(entry);
    return 0;
}

int md5::close() {
    if (file == nullptr) {
        return 0;
    }
    if (creating != 0) {
        return commitEntries(1, [](const file_entry& entry, int, std::string& out) {
            out += entry.hash_text;
            out += " *";
            out += entry.name;
        });
    }
    int status = file->close();
    delete file;
    file = nullptr;
    return status;
}

int md5::open(const wchar_t* path) {
    creating = 0;
    return openStream(path, false);
}

int md5::getNextFile(wchar_t* name, int nameSize, std::uint64_t* size, void* hashBytes) {
    int length = readEntryLineSkippingComments(size);
    if (length <= 0) {
        return length;
    }

    bool valid =
        length >= name_offset && line[32] == L' ' && (line[33] == L'*' || line[33] == L' ');
    for (int i = 0; valid && i < 2 * digest_size; ++i) {
        valid = korvane::detail::is_hex_digit(line[i]);
    }
    if (!valid) {
        if (name != nullptr && nameSize > 0) {
            int shown = length < nameSize ? length : nameSize - 1;
            std::wmemcpy(name, line, static_cast<std::size_t>(shown));
            name[shown] = L'\0';
        }
        return korvane_status::invalid_line;
    }
    int status = deliverName(line + name_offset, length - name_offset, name, nameSize);
    if (status != 0) {
        return status;
    }
    if (hashBytes != nullptr) {
        auto* bytes = static_cast<unsigned char*>(hashBytes);
        for (int i = 0; i < digest_size; ++i) {
            bytes[i] = static_cast<unsigned char>(korvane::detail::hex_value(line[2 * i]) << 4 |
                                                  korvane::detail::hex_value(line[2 * i + 1]));
        }
    }
    return length;
}

int md5::isPreviouslyVerified(const wchar_t*) {
    return 0;
}

int md5::setPreviouslyVerified(bool) {
    return 0;
}
