#include <korvane/container.h>
#include <korvane/status.h>

#include "formats/list_lines.h"
#include "formats/stream.h"

int container::detectFormat(const wchar_t* path, int* format) {
    if (path == nullptr || format == nullptr) {
        return korvane_status::invalid_arguments;
    }
    *format = -1;
    korvane::detail::checksum_stream stream;
    int status = stream.open_existing(path, false);
    if (status != 0) {
        return status;
    }
    wchar_t buffer[line_capacity];
    int signed_state = 0;
    for (;;) {
        int length = stream.read_line(buffer, line_capacity);
        if (length <= 0) {
            return length;
        }
        wchar_t* text = buffer;
        // In the order the readers take them: comments before the signed framing.
        if (buffer[0] == L';' || !korvane::detail::unwrap_signed_line(signed_state, text, length)) {
            continue;
        }
        if (korvane::detail::trimmed_length(text, length) == 0 || text[0] == L';' ||
            (text[0] == L'#' && !korvane::detail::ends_in_crc(text, length))) {
            continue;
        }
        int type = korvane::detail::type_of_line(text, length);
        if (type < 0) {
            return korvane_status::invalid_line;
        }
        *format = type;
        return 0;
    }
}
