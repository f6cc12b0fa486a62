#include <new>

#include "frontend.h"
#include "platform/console.h"
#include "platform/entry.h"
#include "status.h"

int korvane_main(int argc, wchar_t** argv) {
    // The last guard: an allocation that fails where no status path reaches
    // ends the run with the out-of-memory status, not with an abort. The
    // destructors on the way out discard any list the run had begun.
    try {
        return korvane::app::run(argc, argv);
    } catch (const std::bad_alloc&) {
        try {
            korvane::platform::console_write(korvane::platform::console_stream::err,
                                             L"Out of memory\n");
        } catch (const std::bad_alloc&) {
            // Nothing left to say it with; the status still tells.
        }
        return korvane::to_int(korvane::status::unknown_error);
    }
}

KORVANE_DEFINE_ENTRY
