#include "json_report.h"

#include <algorithm>
#include <cstdint>
#include <utility>

#include "output.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/text.h"

namespace korvane::app {

namespace {

constexpr wchar_t hex_digits[] = L"0123456789abcdef";

void append_number(std::wstring& out, std::uint64_t value) {
    wchar_t digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        out += digits[--count];
    }
}

// A unit of text inside a JSON string: quotes, backslashes and control
// characters escaped, everything else as it is.
void append_unit(std::wstring& out, wchar_t unit) {
    switch (unit) {
        case L'"':
            out += L"\\\"";
            return;
        case L'\\':
            out += L"\\\\";
            return;
        case L'\n':
            out += L"\\n";
            return;
        case L'\r':
            out += L"\\r";
            return;
        case L'\t':
            out += L"\\t";
            return;
        default:
            break;
    }
    if (static_cast<std::uint32_t>(unit) < 0x20) {
        out += L"\\u00";
        out += hex_digits[(unit >> 4) & 0xF];
        out += hex_digits[unit & 0xF];
        return;
    }
    out += unit;
}

// U+FFFD as the console layer takes it: UTF-8 bytes on POSIX, a unit on
// Windows.
void append_replacement(std::wstring& out) {
#if defined(_WIN32)
    out += L'\xFFFD';
#else
    out += L"\xEF\xBF\xBD";
#endif
}

#if !defined(_WIN32)
// The length of the valid UTF-8 sequence at `at` (units are bytes), or 0.
std::size_t utf8_sequence(std::wstring_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(text[i]) & 0xFF; };
    const std::uint32_t lead = byte(at);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = code << 6 | (byte(at + i) & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode are not text.
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}
#endif

// Appends `text` as the inside of a JSON string; false when some of it was
// not valid text and was replaced.
// Printable ASCII, which needs no escape and is valid text.
bool plain(wchar_t unit) {
    return unit >= 0x20 && unit < 0x7F && unit != L'"' && unit != L'\\';
}

bool append_text(std::wstring& out, std::wstring_view text) {
    // Most names are plain ASCII: one append for the run of them.
    std::size_t run = 0;
    while (run < text.size() && plain(text[run])) {
        ++run;
    }
    out.append(text.substr(0, run));
    bool whole = true;
    for (std::size_t at = run; at < text.size();) {
#if defined(_WIN32)
        const auto unit = static_cast<std::uint32_t>(text[at]);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF) {
            out += text[at];
            out += text[at + 1];
            at += 2;
            continue;
        }
        if (high || low) {
            append_replacement(out);
            whole = false;
        } else {
            append_unit(out, text[at]);
        }
        ++at;
#else
        const std::size_t length = utf8_sequence(text, at);
        if (length == 0) {
            append_replacement(out);
            whole = false;
            ++at;
            continue;
        }
        if (length == 1) {
            append_unit(out, text[at]);
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
#endif
    }
    return whole;
}

// "YYYY-MM-DDTHH:MM:SSZ" of 100-ns ticks since 1601-01-01 UTC.
std::wstring utc_text(std::uint64_t ticks) {
    return calendar_text(platform::utc_time_of(ticks), L'T', L"Z");
}

const wchar_t* run_word(run_kind kind) {
    switch (kind) {
        case run_kind::creation:
            return L"creation";
        case run_kind::update:
            return L"update";
        case run_kind::verification:
            break;
    }
    return L"verification";
}

void emit(json_object& object) {
    platform::console_write(platform::console_stream::out, object.line());
}

}  // namespace

json_object::json_object(std::wstring& buffer, const wchar_t* event) : out(buffer) {
    out.clear();
    out += L'{';
    word(L"event", event);
}

void json_object::key(const wchar_t* name) {
    out += out.size() > 1 ? L",\"" : L"\"";
    out += name;
    out += L"\":";
}

json_object& json_object::text(const wchar_t* name, std::wstring_view value) {
    key(name);
    out += L'"';
    (void)append_text(out, value);
    out += L'"';
    return *this;
}

json_object& json_object::name(const wchar_t* name, std::wstring_view value) {
    key(name);
    out += L'"';
    const bool whole = append_text(out, value);
    out += L'"';
    if (!whole) {
        key((std::wstring(name) + L"_bytes").c_str());
        out += L'"';
        for (wchar_t unit : value) {
            const auto bits = static_cast<std::uint32_t>(unit);
            if (platform::wide_units_are_utf16) {
                out += hex_digits[(bits >> 12) & 0xF];
                out += hex_digits[(bits >> 8) & 0xF];
            }
            out += hex_digits[(bits >> 4) & 0xF];
            out += hex_digits[bits & 0xF];
        }
        out += L'"';
    }
    return *this;
}

json_object& json_object::word(const wchar_t* name, std::wstring_view value) {
    key(name);
    out += L'"';
    out += value;
    out += L'"';
    return *this;
}

json_object& json_object::number(const wchar_t* name, std::uint64_t value) {
    key(name);
    append_number(out, value);
    return *this;
}

json_object& json_object::boolean(const wchar_t* name, bool value) {
    key(name);
    out += value ? L"true" : L"false";
    return *this;
}

const std::wstring& json_object::line() {
    out += L"}\n";
    return out;
}

void json_reporter::run_started(const run_facts& run) {
    run_ = run;
    started_ = true;
    json_object object(line_, L"start");
    object.word(L"run", run_word(run.kind));
    if (run.list_path != nullptr) {
        object.name(L"list", run.list_path);
    }
    emit(object.text(L"type", type_row(run.type).word));
}

void json_reporter::file_done(const file_outcome& outcome) {
    json_object object(line_, L"file");
    object.name(L"name", outcome.path);
    wchar_t digest[list_type::digest_text_room];
    const auto digests = [&] {
        type_row(run_.type).digest_text(outcome.expected.bytes, digest);
        object.word(L"expected", digest);
        type_row(run_.type).digest_text(outcome.actual.bytes, digest);
        object.word(L"actual", digest).number(L"size", outcome.size);
    };
    switch (outcome.what) {
        case verdict::ok:
            ++counts_.ok;
            object.word(L"status", L"ok");
            digests();
            break;
        case verdict::previously_verified:
            ++counts_.previously_verified;
            object.word(L"status", L"previously_verified");
            break;
        case verdict::mismatch:
            ++counts_.mismatch;
            object.word(L"status", L"mismatch");
            digests();
            if (outcome.diagnosis == mismatch_cause::damaged) {
                ++counts_.damaged;
                object.word(L"diagnosis", L"damaged");
            } else if (outcome.diagnosis == mismatch_cause::changed) {
                object.word(L"diagnosis", L"changed")
                    .text(L"modified", utc_text(outcome.write_time));
            }
            break;
        case verdict::file_error:
            if (outcome.cause == status::file_not_found) {
                ++counts_.missing;
                object.word(L"status", L"missing");
            } else {
                ++counts_.error;
                object.word(L"status", L"error").text(L"error", status_message(outcome.cause));
            }
            break;
        case verdict::outside_signed_text:
            ++counts_.outside_signed_text;
            object.word(L"status", L"outside_signed_text");
            break;
        case verdict::added:
            ++counts_.added;
            type_row(run_.type).digest_text(outcome.actual.bytes, digest);
            object.word(L"status", L"added").word(L"actual", digest).number(L"size", outcome.size);
            break;
        case verdict::not_added:
            ++counts_.not_added;
            object.word(L"status", L"not_added").text(L"error", failure_message(outcome.cause));
            break;
    }
    emit(object);
}

void json_reporter::run_halted(const wchar_t* path, halt_reason why) {
    json_object object(line_, L"halted");
    object.name(L"name", path);
    const wchar_t* reason = why == halt_reason::no_workers      ? L"no_workers"
                            : why == halt_reason::out_of_memory ? L"out_of_memory"
                                                                : L"out_of_descriptors";
    emit(object.word(L"reason", reason));
}

void json_reporter::walk_problem_met(const walk_problem& problem) {
    ++counts_.problems;
    json_object object(line_, L"problem");
    const wchar_t* kind = L"directory_loop";
    switch (problem.what) {
        case walk_issue::directory_loop:
            break;
        case walk_issue::unreadable_file:
            kind = L"unreadable_file";
            break;
        case walk_issue::stat_failed:
            kind = L"stat_failed";
            break;
        case walk_issue::unlistable_directory:
            kind = L"unlistable_directory";
            break;
        case walk_issue::name_too_long:
            kind = L"name_too_long";
            break;
        case walk_issue::unreadable_name_list:
            kind = L"unreadable_name_list";
            break;
        case walk_issue::unstorable_name:
            kind = L"unstorable_name";
            break;
    }
    object.word(L"kind", kind).name(L"name", problem.path);
    object.boolean(L"argument", problem.file_argument);
    if (problem.cause != status::ok) {
        object.text(L"error", status_message(problem.cause));
    }
    emit(object);
}

void json_reporter::list_failed(list_step step, const wchar_t* list_path, status cause) {
    const wchar_t* words[] = {L"create", L"open", L"read", L"save"};
    json_object object(line_, L"list_error");
    object.word(L"step", words[static_cast<int>(step)]).name(L"list", list_path);
    emit(object.text(L"error", failure_message(cause)));
}

void json_reporter::scratch_failed(const wchar_t* place, status cause, int error_number) {
    json_object object(line_, L"scratch_error");
    object.name(L"place", place);
    emit(object.text(L"error", write_failure_message(error_number, cause)));
}

void json_reporter::file_not_listed(const wchar_t* name) {
    ++counts_.not_listed;
    json_object object(line_, L"file");
    emit(object.name(L"name", name).word(L"status", L"not_listed"));
}

void json_reporter::audit_refused(const wchar_t* list_path) {
    json_object object(line_, L"refused");
    object.text(L"run", L"audit").name(L"list", list_path);
    emit(object.text(L"error", L"not one listed file is where its names resolve"));
}

void json_reporter::entry_updated(const wchar_t* name, update_verdict what) {
    json_object object(line_, L"file");
    object.name(L"name", name);
    switch (what) {
        case update_verdict::added:
            ++counts_.added;
            object.word(L"status", L"added");
            break;
        case update_verdict::updated:
            ++counts_.updated;
            object.word(L"status", L"updated");
            break;
        case update_verdict::missing_kept:
            ++counts_.missing_kept;
            object.word(L"status", L"missing_kept");
            break;
        case update_verdict::removed:
            ++counts_.removed;
            object.word(L"status", L"removed");
            break;
    }
    emit(object);
}

void json_reporter::update_refused(const wchar_t* list_path, status why) {
    json_object object(line_, L"refused");
    object.text(L"run", L"update").name(L"list", list_path);
    const wchar_t* error = why == status::file_not_found
                               ? L"not one listed file is where its names resolve"
                               : failure_message(why);
    emit(object.text(L"error", error));
}

void json_reporter::unknown_list_format(const wchar_t* list_path) {
    json_object object(line_, L"list_error");
    object.word(L"step", L"open").name(L"list", list_path);
    emit(object.text(L"error", L"unknown checksum list format"));
}

void json_reporter::path_too_long() {
    emit(json_object(line_, L"error").text(L"error", L"path too long"));
}

void json_reporter::out_of_memory() {
    emit(json_object(line_, L"error").text(L"error", L"out of memory"));
}

void json_reporter::summary(const verification_tally& tally, const wchar_t* untrusted_file_system) {
    counts_.improper_lines = static_cast<std::uint64_t>(tally.improper);
    if (untrusted_file_system != nullptr) {
        untrusted_ = untrusted_file_system;
    }
    for (const int type : types_to_try(run_, tally)) {
        try_types_ += try_types_.empty() ? L"" : L" ";
        try_types_ += type_row(type).word;
    }
}

void json_reporter::improper_line(const wchar_t* list_path, std::uint64_t line) {
    json_object object(line_, L"improper_line");
    emit(object.name(L"list", list_path).number(L"line", line));
}

void json_reporter::irregular_checksum(std::uint64_t line) {
    json_object object(line_, L"irregular_checksum");
    if (run_.list_path != nullptr) {
        object.name(L"list", run_.list_path);
    }
    emit(object.number(L"line", line));
}

void json_reporter::nothing_verified(const wchar_t* list_path) {
    json_object object(line_, L"refused");
    object.text(L"run", L"verification").name(L"list", list_path);
    emit(object.text(L"error", L"no file was verified"));
}

void json_reporter::program_ended(int exit_status) {
    json_object object(line_, L"summary");
    if (started_) {
        object.word(L"run", run_word(run_.kind));
    }
    const std::pair<const wchar_t*, std::uint64_t> numbers[] = {
        {L"ok", counts_.ok},
        {L"previously_verified", counts_.previously_verified},
        {L"mismatch", counts_.mismatch},
        {L"damaged", counts_.damaged},
        {L"missing", counts_.missing},
        {L"error", counts_.error},
        {L"outside_signed_text", counts_.outside_signed_text},
        {L"added", counts_.added},
        {L"not_added", counts_.not_added},
        {L"not_listed", counts_.not_listed},
        {L"updated", counts_.updated},
        {L"missing_kept", counts_.missing_kept},
        {L"removed", counts_.removed},
        {L"problems", counts_.problems},
        {L"improper_lines", counts_.improper_lines},
    };
    for (const auto& [key, value] : numbers) {
        object.number(key, value);
    }
    if (!untrusted_.empty()) {
        object.text(L"untrusted_file_system", untrusted_);
    }
    if (!try_types_.empty()) {
        // The type guessed from the list's lines verified nothing.
        object.word(L"try_types", try_types_);
    }
    // Exit statuses are bytes to the shell: what it will see.
    emit(object.number(L"exit_status", static_cast<std::uint64_t>(exit_status & 0xFF)));
    platform::console_flush();
}

void json_reporter::merge_refused(const merge_problem& problem) {
    static constexpr const wchar_t* words[] = {
        L"unreadable", L"damaged",        L"incomplete",    L"missing",    L"duplicate",
        L"other_kind", L"other_count",    L"other_list",    L"other_type", L"other_run",
        L"other_walk", L"other_settings", L"folder_differs"};
    json_object object(line_, L"merge_problem");
    object.word(L"problem", words[static_cast<int>(problem.what)]);
    if (problem.path != nullptr) {
        object.name(L"path", problem.path);
    }
    if (problem.shard != 0) {
        object.number(L"shard", problem.shard).number(L"shards", problem.count);
    }
    if (problem.what == merge_issue::damaged) {
        object.number(L"line", problem.line);
    }
    if (problem.other != nullptr) {
        object.name(L"other", problem.other);
    }
    emit(object);
}

}  // namespace korvane::app
