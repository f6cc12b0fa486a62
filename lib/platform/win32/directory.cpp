#include <cerrno>
#include <new>

#include "platform/listing.h"
#include "platform/win32/native.h"

namespace korvane::platform {

struct directory_reader::state {
    HANDLE find = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAW data;
    bool has_entry = false;   // `data` holds a name not yet handed out
    DWORD pending_error = 0;  // a failed search, reported after the names before it
    std::string name;         // the native form handed out last
};

directory_reader::directory_reader() = default;

directory_reader::~directory_reader() {
    close();
    delete open_state;
}

int directory_reader::open(const wchar_t* path) try {
    close();
    if (open_state == nullptr) {
        open_state = new state;
    }
    if (int error = win32::require_directory(path); error != 0) {
        return error;
    }
    open_state->find = ::FindFirstFileW(win32::search_path_of(path).c_str(), &open_state->data);
    if (open_state->find == INVALID_HANDLE_VALUE) {
        DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES ? 0
                                                                             : win32::fail(error);
    }
    open_state->has_entry = true;
    return 0;
} catch (const std::bad_alloc&) {
    return ENOMEM;
}

bool directory_reader::regular() const {
    return false;
}

int directory_reader::next(std::string_view& name) try {
    if (open_state == nullptr || !open_state->has_entry) {
        DWORD error = open_state == nullptr ? 0 : open_state->pending_error;
        return error == 0 ? 0 : -win32::fail(error);
    }
    // Each UTF-16 unit as two bytes, high first: byte order is unit order.
    std::string& native = open_state->name;
    native.clear();
    for (const wchar_t* unit = open_state->data.cFileName; *unit != L'\0'; ++unit) {
        native.push_back(static_cast<char>((static_cast<unsigned>(*unit) >> 8) & 0xFF));
        native.push_back(static_cast<char>(static_cast<unsigned>(*unit) & 0xFF));
    }
    if (!::FindNextFileW(open_state->find, &open_state->data)) {
        open_state->has_entry = false;
        DWORD error = ::GetLastError();
        open_state->pending_error = error == ERROR_NO_MORE_FILES ? 0 : error;
    }
    name = native;
    return 1;
} catch (const std::bad_alloc&) {
    return -ENOMEM;
}

int directory_reader::entry_info(std::string_view, const wchar_t* full_path, file_info& out) const {
    return get_file_info(full_path, out);
}

void directory_reader::close() {
    if (open_state == nullptr) {
        return;
    }
    if (open_state->find != INVALID_HANDLE_VALUE) {
        ::FindClose(open_state->find);
        open_state->find = INVALID_HANDLE_VALUE;
    }
    open_state->has_entry = false;
    open_state->pending_error = 0;
}

int temporary_folder(std::wstring& out) try {
    wchar_t buffer[MAX_PATH + 2];
    DWORD length = ::GetTempPathW(MAX_PATH + 2, buffer);
    if (length == 0 || length > MAX_PATH + 1) {
        return win32::fail_last();
    }
    out.assign(buffer, length);
    strip_trailing_separators(out);
    return 0;
} catch (const std::bad_alloc&) {
    return ENOMEM;
}

}  // namespace korvane::platform
