// The command-line tokenizer and the option pass, with arguments as bytes (one
// code unit per byte, as on POSIX). Tokenizer properties: one argument per
// element, in order; an element is split at its first '=' exactly when both
// sides hold at most 510 units; the name is the text before it without trailing
// blanks, the value the text after it without leading blanks and without one
// pair of matching quotes. The option pass is compared with a model of the
// option table: the settings it reaches, the usage errors, the early ends, and
// exactly which elements, whole, are handed on as file arguments.
//
// Input: the elements after the program name, separated by zero bytes. A file
// argument whose first unit is 0x01 makes the expansion fail with -9.
#include <korvane/cmdline.h>

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "expand.h"
#include "frontend.h"
#include "jobs.h"
#include "support.h"

using namespace korvane::fuzz;
using korvane::app::pass_result;
using korvane::app::run_settings;

namespace {

constexpr std::size_t max_side = 510;

bool is_blank(wchar_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20;
}

struct token {
    std::wstring name;
    std::optional<std::wstring> value;
};

// The argument an element must give.
token expected_token(const std::wstring& element) {
    std::size_t equals = element.find(L'=');
    if (equals == std::wstring::npos || equals > max_side ||
        element.size() - equals - 1 > max_side) {
        return {element, std::nullopt};
    }
    std::wstring name = element.substr(0, equals);
    while (!name.empty() && is_blank(name.back())) {
        name.pop_back();
    }
    std::wstring value = element.substr(equals + 1);
    std::size_t start = 0;
    while (start < value.size() && is_blank(value[start])) {
        ++start;
    }
    value.erase(0, start);
    if (!value.empty() && (value[0] == L'\'' || value[0] == L'"') && value.back() == value[0]) {
        value = value.size() == 1 ? std::wstring() : value.substr(1, value.size() - 2);
    }
    return {name, value};
}

// The list type a name gives (extension, or a name such as SHA256SUMS), and
// the word -t takes: the program's own tables, which their unit tests check.
int extension_type(const std::wstring& name) {
    return korvane::app::type_from_name(name.c_str());
}

struct model_result {
    pass_result pass;
    run_settings settings;
    std::vector<std::size_t> file_arguments;  // argv indices
};

// The --exclude patterns, --merge and a well-formed --shard, wherever they
// stand: only the value a short option takes from the next element is no
// option. False when --shard=auto finds no scheduler (the fuzzer sets none).
bool model_early_options(const std::vector<token>& tokens, run_settings& s) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::wstring& name = tokens[i].name;
        const bool short_with_value =
            name == L"-c" || name == L"-t" || name == L"-j" || name == L"-p";
        korvane::app::shard_choice choice;
        if (short_with_value && !tokens[i].value) {
            ++i;
        } else if (name == L"--exclude" && tokens[i].value && !tokens[i].value->empty()) {
            s.excludes.add(*tokens[i].value);
        } else if (name == L"--merge") {
            s.merge = true;
        } else if (name == L"--shard" && tokens[i].value &&
                   korvane::app::parse_shard(*tokens[i].value, choice)) {
            if (choice.automatic) {
                return false;
            }
            s.shard = choice;
        }
    }
    return true;
}

// The option table, applied token by token.
model_result model(const std::vector<token>& tokens, const std::vector<std::wstring>& elements) {
    model_result out;
    run_settings& s = out.settings;
    auto finish = [&](int status) {
        out.pass = {true, status};
        return out;
    };
    if (!model_early_options(tokens, s)) {
        return finish(-8);
    }
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::wstring& name = tokens[i].name;
        auto take = [&](bool may_take_next) -> std::optional<std::wstring> {
            if (tokens[i].value) {
                return tokens[i].value;
            }
            if (may_take_next && i + 1 < tokens.size()) {
                ++i;
                return tokens[i].name;
            }
            return std::nullopt;
        };
        if (name == L"-c" || name == L"--create") {
            auto value = take(name == L"-c");
            if (!value) {
                return finish(-8);
            }
            s.has_target = true;
            s.creation_target = *value;
            int type = extension_type(*value);
            if (!s.type_forced && type != -1) {
                s.type = type;
            }
        } else if (name == L"-t" || name == L"--type") {
            auto value = take(name == L"-t");
            if (!value) {
                return finish(-8);
            }
            int type = korvane::app::type_from_word(value->c_str());
            if (type == -1) {
                return finish(-8);
            }
            s.type = type;
            s.type_forced = true;
        } else if (name == L"-j" || name == L"--jobs") {
            auto value = take(name == L"-j");
            if (!value) {
                return finish(-8);
            }
            s.jobs = korvane::app::parse_jobs(value->c_str());
            if (s.jobs == 0) {
                return finish(-8);
            }
        } else if (name == L"-r" || name == L"--recursive") {
            s.recursive = true;
        } else if (name == L"-q" || name == L"--quiet") {
            s.quiet = true;
        } else if (name == L"-a" || name == L"--doall" || name == L"--all") {
            s.doall = true;
        } else if (name == L"-x" || name == L"--one-file-system") {
            s.one_file_system = true;
        } else if (name == L"--audit") {
            s.audit = true;
        } else if (name == L"--prune") {
            s.prune = true;
        } else if (name == L"-T" || name == L"--record-times") {
            s.record_times = true;
        } else if (name == L"--json") {
            s.json = true;
        } else if (name == L"--ignore-missing") {
            s.ignore_missing = true;
        } else if (name == L"--status") {
            s.status_only = true;
        } else if (name == L"--strict") {
            s.strict = true;
        } else if (name == L"-w" || name == L"--warn") {
            s.warn = true;
        } else if (name == L"-z" || name == L"--zero") {
            s.zero = true;
        } else if (name == L"--null") {
            s.null_separated = true;
        } else if (name == L"--merge") {
            s.merge = true;
        } else if (name == L"--shard") {
            korvane::app::shard_choice choice;
            auto value = take(false);
            if (!value || !korvane::app::parse_shard(*value, choice)) {
                return finish(-8);
            }
        } else if (name == L"--results") {
            auto value = take(false);
            if (!value || value->empty()) {
                return finish(-8);
            }
            s.results = *value;
        } else if (name == L"--exclude" || name == L"--files-from") {
            auto value = take(false);
            if (!value || value->empty()) {
                return finish(-8);
            }
            if (name == L"--files-from") {
                s.files_from.push_back(*value);
            }
        } else if (name == L"-u" || name == L"--update") {
            // No value of its own, but an "=" part names the list.
            s.update = true;
            if (const auto& value = tokens[i].value) {
                if (value->empty()) {
                    return finish(-8);
                }
                s.has_checksum_file = true;
                s.checksum_file = *value;
                s.update_list_named = true;
                const int type = extension_type(*value);
                if (!s.type_forced && type != -1) {
                    s.type = type;
                }
            }
        } else if (name == L"-h" || name == L"--help" || name == L"-V" || name == L"--version") {
            return finish(0);
        } else if (name == L"-p" || name == L"--parent") {
            auto value = take(name == L"-p");
            if (!value || value->empty()) {
                return finish(-8);
            }
            s.has_parent = true;
            s.parent = *value;
        } else {
            out.file_arguments.push_back(i + 1);
            if (!elements[i].empty() && elements[i][0] == 1) {
                return finish(-9);
            }
        }
    }
    return out;
}

bool same_settings(const run_settings& a, const run_settings& b) {
    return a.has_target == b.has_target && a.creation_target == b.creation_target &&
           a.has_parent == b.has_parent && a.parent == b.parent && a.type == b.type &&
           a.type_forced == b.type_forced && a.jobs == b.jobs && a.recursive == b.recursive &&
           a.quiet == b.quiet && a.doall == b.doall && a.one_file_system == b.one_file_system &&
           a.has_checksum_file == b.has_checksum_file && a.checksum_file == b.checksum_file &&
           a.audit == b.audit && a.update == b.update && a.prune == b.prune &&
           a.update_list_named == b.update_list_named && a.record_times == b.record_times &&
           a.json == b.json && a.ignore_missing == b.ignore_missing &&
           a.status_only == b.status_only && a.strict == b.strict && a.warn == b.warn &&
           a.zero == b.zero && a.excludes == b.excludes && a.files_from == b.files_from &&
           a.null_separated == b.null_separated && a.merge == b.merge && a.results == b.results &&
           a.shard.on == b.shard.on && a.shard.index == b.shard.index &&
           a.shard.count == b.shard.count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> elements;
    if (size > 0) {
        std::string_view rest(reinterpret_cast<const char*>(data), size);
        for (;;) {
            std::size_t end = rest.find('\0');
            elements.push_back(widen(rest.substr(0, end)));
            if (end == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(end + 1);
        }
    }
    std::vector<wchar_t*> argv;
    std::wstring program = L"korvane";
    argv.push_back(program.data());
    for (auto& element : elements) {
        argv.push_back(element.data());
    }
    argv.push_back(nullptr);
    const int argc = static_cast<int>(elements.size()) + 1;

    cmdline args(argc, argv.data());
    std::vector<token> tokens;
    std::size_t index = 0;
    for (cmdline::arg* a = args.get_next_arg(nullptr); a != nullptr; a = args.get_next_arg(a)) {
        FUZZ_CHECK(index < elements.size());
        FUZZ_CHECK(a->name != nullptr);
        token expected = expected_token(elements[index]);
        FUZZ_CHECK(expected.name == a->name);
        FUZZ_CHECK(expected.value.has_value() == (a->value != nullptr));
        if (a->value != nullptr) {
            FUZZ_CHECK(*expected.value == a->value);
            FUZZ_CHECK(std::wcslen(a->name) <= max_side && std::wcslen(a->value) <= max_side);
        }
        // Private copies, never the caller's text.
        FUZZ_CHECK(a->name != argv[index + 1]);
        tokens.push_back(expected);
        ++index;
    }
    FUZZ_CHECK(index == elements.size());

    run_settings settings;
    std::vector<std::size_t> handed;
    pass_result pass =
        korvane::app::option_pass(args, argv.data(), settings, [&](const wchar_t* argument) {
            std::size_t at = 1;
            while (at < argv.size() - 1 && argv[at] != argument) {
                ++at;
            }
            FUZZ_CHECK(at < argv.size() - 1);  // a whole element of the vector
            handed.push_back(at);
            return argument[0] == 1 ? -9 : 0;
        });
    model_result expected = model(tokens, elements);
    FUZZ_CHECK(pass.finished == expected.pass.finished);
    FUZZ_CHECK(pass.status == expected.pass.status);
    FUZZ_CHECK(handed == expected.file_arguments);
    if (!pass.finished) {
        FUZZ_CHECK(same_settings(settings, expected.settings));
    }
    return 0;
}
