// Keeping other writers out of a list while korvane rewrites it, and the
// stamp that shows whether anyone wrote it since it was read.
#include <io.h>

#include "platform/file.h"
#include "platform/win32/native.h"

namespace korvane::platform {

int native_file::stamp(stamp_value& value) const {
    auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(handle));
    FILE_BASIC_INFO basic;
    FILE_STANDARD_INFO standard;
    if (h == INVALID_HANDLE_VALUE ||
        !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard)) {
        return win32::fail_last();
    }
    value.size = static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
    value.modified = static_cast<std::uint64_t>(basic.LastWriteTime.QuadPart);
    value.changed = static_cast<std::uint64_t>(basic.ChangeTime.QuadPart);
    return 0;
}

int native_file::exclude_writers() {
    // open_for_rewrite shares no write access: a writer that had the file
    // open made that open fail, and every later one is refused.
    return 0;
}

}  // namespace korvane::platform
