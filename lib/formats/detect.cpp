#include <korvane/container.h>

#include "formats/list_lines.h"
#include "formats/stream.h"
#include "status.h"

int container::detectFormat(const wchar_t* path, int* format) {
    if (path == nullptr || format == nullptr) {
        return korvane::to_int(korvane::status::invalid_arguments);
    }
    *format = -1;
    korvane::detail::checksum_stream stream;
    korvane::status result = stream.open_existing(path, false);
    if (result != korvane::status::ok) {
        return korvane::to_int(result);
    }
    bool signify = false;
    result = korvane::detail::skip_signify_lines(stream, signify);
    if (result != korvane::status::ok) {
        return korvane::to_int(result);
    }
    wchar_t buffer[line_capacity];
    int signed_state = korvane::detail::plain_text;
    for (;;) {
        int length = 0;
        result = stream.read_line(buffer, line_capacity, length);
        if (result != korvane::status::ok || length == 0) {
            return korvane::to_int(result);
        }
        wchar_t* text = buffer;
        // In the order the readers take them: comments before the signed framing.
        if (buffer[0] == L';' || korvane::detail::unwrap_signed_line(signed_state, text, length) ==
                                     korvane::detail::signed_part::framing) {
            continue;
        }
        if (korvane::detail::is_blank_line(text, length) || text[0] == L';' ||
            (text[0] == L'#' && !korvane::detail::ends_in_crc(text, length))) {
            continue;
        }
        int type = korvane::detail::type_of_line(text, length);
        if (type < 0) {
            return korvane::to_int(korvane::status::invalid_line);
        }
        *format = type;
        return 0;
    }
}
