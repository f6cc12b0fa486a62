#include "runs.h"

#include <korvane/config.h>
#include <korvane/container.h>
#include <korvane/hasher.h>
#include <korvane/processor.h>
#include <korvane/status.h>

#include <cstring>
#include <cwchar>

#include "entries.h"
#include "output.h"
#include "platform/fileops.h"
#include "platform/fs.h"

namespace korvane::app {

namespace platform = korvane::platform;

namespace {

// Waits for the file in progress, drawing its percentage unless quiet. The
// first wait is long so that quick files show only their final line.
void wait_for_file(processor& worker, const wchar_t* path, bool quiet, const wchar_t* last_line) {
    if (quiet) {
        worker.complete();
        return;
    }
    int shown = -1;
    int timeout_ms = 3000;
    while (!worker.complete(timeout_ms)) {
        timeout_ms = 500;
        int percent = worker.percent_complete();
        if (percent != shown) {
            print_now(L"%s: %d%% complete\r", {path, percent});
            shown = percent;
        }
    }
    if (shown != -1) {
        print_now(last_line, {path});
    } else {
        print(last_line, {path});
    }
}

}  // namespace

int creation_run(const run_settings& settings, container& list, hasher& algorithm,
                 processor& worker, expansion_state& state) {
    const wchar_t* target = settings.creation_target.c_str();
    // The list must never take in its own previous self, however the walk
    // reached it (another spelling of the path, a link).
    platform::file_info target_info;
    const bool target_exists = platform::get_file_info(target, target_info) == 0;

    int status = list.create(target);
    if (status != 0) {
        print(L"Error creating sfv file: %s\n", {status_message(status)});
        return status;
    }
    for (path_record* record = state.files.head; record != nullptr; record = record->next) {
        const wchar_t* path = record->text;
        if (std::wcscmp(path, target) == 0 ||
            (target_exists && record->device == target_info.device &&
             record->inode == target_info.inode)) {
            continue;
        }
        status = worker.processFile(path, &algorithm);
        if (status != 0) {
            print(L"Error processing file %s: %s\n", {path, status_message(status)});
            return status;
        }
        wait_for_file(worker, path, settings.quiet, L"%s: 100%% complete\n");
        status = worker.error();
        if (status != 0) {
            print(L"%s: File error: %s\n", {path, status_message(status)});
            return status;
        }
        list.addFile(path, algorithm.hash());
    }
    state.files.release_all(state.pool);
    state.directories.release_all(state.pool);
    status = list.close();
    if (status != 0) {
        // Without this line a full disk would show only in the exit status.
        print_error(L"%s: %s\n", {target, status_message(status)});
    }
    return status;
}

int verification_run(const run_settings& settings, container& list, hasher& algorithm,
                     processor& worker, expansion_state& state) {
    wchar_t* buffer = state.path_buffer;
    std::size_t prefix = 0;
    if (settings.has_parent) {
        prefix = settings.parent.size();
        const bool needs_separator = settings.parent.back() != L'/';
        // Entry names need room after the prefix; a parent that leaves too little
        // would have every entry fail or be cut short.
        if (prefix + (needs_separator ? 1 : 0) >= path_buffer_units - 2) {
            print_error(L"Path is too long\n");
            return korvane_status::path_error;
        }
        std::wmemcpy(buffer, settings.parent.c_str(), prefix);
        if (needs_separator) {
            buffer[prefix++] = L'/';
        }
    }
    buffer[prefix] = L'\0';

    const wchar_t* list_name = settings.checksum_file.c_str();
    int status = list.open(list_name);
    if (status != 0) {
        return status;
    }

    int entries = 0;
    int errors = 0;
    int missing = 0;
    unsigned char expected[128];
    std::uint64_t size = 0;
    wchar_t* name = buffer + prefix;
    const int room = static_cast<int>(path_buffer_units - prefix);
    const auto digest_size = static_cast<std::size_t>(algorithm.hash_size());

    for (;;) {
        int result = list.getNextFile(name, room, &size, expected);
        if (result == 0) {
            break;
        }
        if (result < 0) {
            // A damaged list must not pass as verified: the entries behind the
            // bad line were never checked.
            print(L"%s: %s\n", {list_name, status_message(result)});
            ++errors;
            break;
        }
        ++entries;
        resolve_windows_separators(buffer, name);
        if (!settings.doall && list.isPreviouslyVerified(buffer) != 0) {
            if (!settings.quiet) {
                print(L"%s: Previously verified Ok\n", {buffer});
            }
            list.setPreviouslyVerified(true);
            continue;
        }
        status = worker.processFile(buffer, &algorithm);
        if (status != 0) {
            print(L"Error processing file %s: %s\n", {buffer, status_message(status)});
            return status;
        }
        wait_for_file(worker, buffer, settings.quiet, L"%s: 100%% complete\r");
        status = worker.error();
        if (status != 0) {
            if (status == korvane_status::file_not_found) {
                ++missing;
            } else {
                ++errors;
            }
            print(L"%s: File error: %s\n", {buffer, status_message(status)});
            list.setPreviouslyVerified(false);
        } else if (std::memcmp(algorithm.hash(), expected, digest_size) == 0) {
            if (!settings.quiet) {
                print(L"%s: Ok                   \n", {buffer});
            }
            list.setPreviouslyVerified(true);
        } else {
            ++errors;
            print_mismatch(buffer, settings.type, algorithm, expected);
            list.setPreviouslyVerified(false);
        }
    }

    status = list.close();
    if (status != 0) {
        // The verdicts stand; only the remembered marks could not be saved.
        print_error(L"%s: %s\n", {list_name, status_message(status)});
    }

    print(L"%d files checked\n", {entries});
    if (errors > 0) {
        print(L"%d errors detected\n", {errors});
    }
    if (missing > 0) {
        print(L"%d missing files detected\n", {missing});
    }
    if (errors > 0 || missing > 0) {
        return 1;
    }
    print(L"All files Ok\n");
    if (static_cast<bool>((*config::instance())["addtag"])) {
        platform::create_marker_file(L"_Verified_");  // a failure is of no consequence
    }
    return 0;
}

}  // namespace korvane::app
