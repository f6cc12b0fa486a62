#include "frontend.h"

#include <korvane/cmdline.h>
#include <korvane/digest_list.h>
#include <korvane/hasher.h>
#include <korvane/md5.h>
#include <korvane/processor.h>
#include <korvane/sfv.h>
#include <korvane/sha.h>
#include <korvane/status.h>
#include <korvane/version.h>

#include <cwchar>

#include "expand.h"
#include "output.h"
#include "platform/text.h"
#include "runs.h"

namespace korvane::app {

namespace {

const std::wstring& version_text() {
    static const std::wstring text = korvane::platform::widen(g_version);
    return text;
}

void print_banner(const wchar_t* program) {
    print(L"%s  version %s\n", {program, version_text().c_str()});
    print(L"Copyright (C) 2026 The Korvane Developers.\n");
    print(L"This is free software; it comes with ABSOLUTELY NO WARRANTY.\n");
    print(L"%s home page: https://korvane.org/\n", {program});
}

bool is(const wchar_t* name, const wchar_t* option) {
    return std::wcscmp(name, option) == 0;
}

pass_result end_with(int status) {
    return {true, status};
}

pass_result usage_error() {
    print_usage();
    return end_with(korvane_status::invalid_arguments);
}

}  // namespace

int settle_type_by_content(run_settings& settings) {
    // Only a list to verify whose name says nothing is judged by what it holds.
    if (settings.has_target || !settings.has_checksum_file || settings.type_forced ||
        type_from_name(settings.checksum_file.c_str()) != -1) {
        return 0;
    }
    int format = -1;
    int status = container::detectFormat(settings.checksum_file.c_str(), &format);
    if (status == korvane_status::invalid_line) {
        // Read as some type anyway, it would only yield a run over nonsense names.
        print_error(L"%s: unknown checksum list format\n", {settings.checksum_file.c_str()});
        return status;
    }
    // A list that cannot be read fails when the run opens it; one without any
    // entry stays an SFV list, as before.
    if (status == 0 && format >= 0) {
        settings.type = static_cast<checksum_type>(format);
    }
    return 0;
}

pass_result option_pass(cmdline& args, wchar_t** argv, run_settings& settings,
                        const std::function<int(const wchar_t*)>& file_argument) {
    int index = 1;  // argv element of the current token
    for (cmdline::arg* token = args.get_next_arg(nullptr); token != nullptr;
         token = args.get_next_arg(token), ++index) {
        const wchar_t* name = token->name;
        // The value of an option: its own "=" part, or (where allowed) the name
        // of the following token, which is then consumed.
        auto take_value = [&](bool may_take_next, const wchar_t*& value) {
            if (token->value != nullptr) {
                value = token->value;
                return true;
            }
            cmdline::arg* next = may_take_next ? args.get_next_arg(token) : nullptr;
            if (next == nullptr) {
                return false;
            }
            value = next->name;
            token = next;
            ++index;
            return true;
        };
        const wchar_t* value = nullptr;
        if (is(name, L"-c") || is(name, L"--create")) {
            if (!take_value(is(name, L"-c"), value)) {
                return usage_error();
            }
            settings.has_target = true;
            settings.creation_target = value;
            int type = type_from_name(value);
            if (!settings.type_forced && type != -1) {
                settings.type = static_cast<checksum_type>(type);
            }
        } else if (is(name, L"-t") || is(name, L"--type")) {
            if (!take_value(is(name, L"-t"), value)) {
                return usage_error();
            }
            int type = type_from_word(value);
            if (type == -1) {
                return usage_error();
            }
            settings.type = static_cast<checksum_type>(type);
            settings.type_forced = true;
        } else if (is(name, L"-r") || is(name, L"--recursive")) {
            settings.recursive = true;
        } else if (is(name, L"-q") || is(name, L"--quiet")) {
            settings.quiet = true;
        } else if (is(name, L"-a") || is(name, L"--doall") || is(name, L"--all")) {
            settings.doall = true;
        } else if (is(name, L"-x") || is(name, L"--one-file-system")) {
            settings.one_file_system = true;
        } else if (is(name, L"-h") || is(name, L"--help")) {
            print_usage();
            return end_with(0);
        } else if (is(name, L"-V") || is(name, L"--version")) {
            print_version(argv[0]);
            return end_with(0);
        } else if (is(name, L"-p") || is(name, L"--parent")) {
            // An empty parent would silently turn every entry into an absolute
            // path below "/".
            if (!take_value(is(name, L"-p"), value) || *value == L'\0') {
                return usage_error();
            }
            settings.has_parent = true;
            settings.parent = value;
        } else {
            // A file argument is the whole element: "date=2020-01-01" is a name.
            if (int status = file_argument(argv[index]); status != 0) {
                return end_with(status);
            }
        }
    }
    return {};
}

void print_usage() {
    print_banner(L"korvane");
    print(L"\n%s is a fast file checksum creation and validation tool.\n\n", {L"korvane"});
    print(L"Usage: %s [OPTIONS] checksum_file\n", {L"korvane"});
    print(L"  or   %s [OPTIONS] -c checksum_file file1 file2 ...\n", {L"korvane"});
    print(L"\nOptions\n");
    print(L"-a, --all              always verify all files\n");
    print(L"-c, --create=FILE      create the checksum file and write to FILE\n");
    print(
        L"-p, --parent=DIR       assume DIR is the root directory for all files in the "
        L"database\n");
    print(L"-q, --quiet            suppress non-error messages\n");
    print(L"-r, --recursive        recursively add sub-directories\n");
    print(
        L"-t, --type=TYPE        force checksum file of type TYPE (default based on file "
        L"extension)\n");
    print(L"                       TYPE is sfv, md5, sha1, sha256 or sha512\n");
    print(L"-V, --version          show version\n");
    print(L"-x, --one-file-system  don't cross filesystem boundaries\n");
}

void print_version(const wchar_t* program) {
    print_banner(program);
}

int run(int argc, wchar_t** argv) {
    // Built in this order and destroyed in reverse on every way out.
    expansion_state state;
    crc crc_hasher;
    sfv sfv_list;
    md5hasher md5_hasher;
    md5 md5_list;
    sha1hasher sha1_hasher;
    sha1 sha1_list;
    sha256hasher sha256_hasher;
    sha256 sha256_list;
    sha512hasher sha512_hasher;
    sha512 sha512_list;
    processor worker;
    cmdline args(argc, argv);

    run_settings settings;
    pass_result pass = option_pass(args, argv, settings, [&](const wchar_t* argument) {
        return expand_argument(argument, settings, state);
    });
    if (pass.finished) {
        return pass.status;
    }

    if (int status = settle_type_by_content(settings); status != 0) {
        return status;
    }
    struct pair {
        container& list;
        hasher& algorithm;
    };
    // In the order of checksum_type.
    const pair pairs[] = {{sfv_list, crc_hasher},
                          {md5_list, md5_hasher},
                          {sha1_list, sha1_hasher},
                          {sha256_list, sha256_hasher},
                          {sha512_list, sha512_hasher}};
    container& list = pairs[static_cast<int>(settings.type)].list;
    hasher& algorithm = pairs[static_cast<int>(settings.type)].algorithm;
    worker.start();

    int status = 0;
    if (settings.has_target) {
        status = creation_run(settings, list, algorithm, worker, state);
    } else if (settings.has_checksum_file) {
        status = verification_run(settings, list, algorithm, worker, state);
    } else {
        print_usage();
    }
    state.release();
    return status;
}

}  // namespace korvane::app
