#include "merge.h"

#include <korvane/list_types.h>
#include <korvane/sfv.h>
#include <korvane/sha.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "entries.h"
#include "frontend.h"
#include "output.h"
#include "platform/clock.h"
#include "platform/file_read.h"
#include "platform/text.h"

namespace korvane::app {

namespace {

std::string word_of(int type) {
    std::string word;
    (void)platform::narrow(type_row(type).word, word);
    return word;
}

std::string line_of(std::initializer_list<std::string_view> fields) {
    std::string line;
    for (std::string_view field : fields) {
        if (!line.empty()) {
            line += ' ';
        }
        line += field;
    }
    return line;
}

status write_lines(results_writer& writer, std::initializer_list<std::string> lines) {
    status result = status::ok;
    for (const std::string& line : lines) {
        if (result == status::ok) {
            result = writer.line(line);
        }
    }
    return result;
}

}  // namespace

status list_identity(const wchar_t* path, std::string& digest, std::uint64_t& size) {
    platform::file_handle file = platform::invalid_file;
    if (const int error = platform::open_for_streaming(path, file); error != 0) {
        return from_errno(error);
    }
    std::vector<unsigned char> buffer(64 * 1024);  // no more than a run holds otherwise
    sha256hasher hasher;
    hasher.init();
    size = 0;
    int error = 0;
    for (;;) {
        std::size_t got = 0;
        error = platform::read_some(file, buffer.data(), buffer.size(), got);
        if (error != 0 || got == 0) {
            break;
        }
        hasher.update(buffer.data(), static_cast<std::uint32_t>(got));
        size += got;
    }
    platform::close_file(file);
    if (error != 0) {
        return from_errno(error);
    }
    hasher.finalize();
    digest = hex_of(static_cast<const unsigned char*>(hasher.hash()), 32);
    return status::ok;
}

status survey_list(const run_settings& settings, std::uint32_t count, wchar_t* name,
                   list_survey& out) {
    const std::unique_ptr<container> list = type_row(settings.type).make_list();
    if (list == nullptr) {
        return status::unknown_error;
    }
    status result = from_int(list->open(settings.checksum_file.c_str()));
    if (result != status::ok) {
        return result;
    }
    if (sfv* tagged = dynamic_cast<sfv*>(list.get()); tagged != nullptr) {
        tagged->leaveTagUnwritten();
    }
    list->resolveNamesIn(settings.has_parent ? settings.parent.c_str() : L".");
    out.folder = list->namesFolderCode();
    unsigned char digest[128];
    std::uint64_t entries = 0;
    std::uint64_t bytes = 0;
    bool every_size = true;
    for (;;) {
        std::uint64_t size = 0;
        const int got = list->getNextFile(name, static_cast<int>(path_buffer_units), &size, digest);
        if (got == to_int(status::outside_signed_text) || got == to_int(status::invalid_line)) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        ++entries;
        const file_record& record = list->entryRecord();
        every_size = every_size && record.clock != record_clock::none;
        bytes += record.size;
    }
    (void)list->close();
    out.split = entry_split(count, entries, bytes, every_size);
    out.entries = entries;
    return status::ok;
}

status begin_shard_results(const run_settings& settings, reporter& report, list_shard& shard,
                           results_writer& writer, std::uint64_t started, wchar_t* name) {
    const wchar_t* list_path = settings.checksum_file.c_str();
    list_survey survey;
    status result = survey_list(settings, settings.shard.count, name, survey);
    if (result != status::ok) {
        report.list_failed(list_step::open, list_path, result);
        return result;
    }
    shard.split = survey.split;
    if (settings.results.empty()) {
        return status::ok;
    }
    std::string identity;
    std::uint64_t size = 0;
    result = list_identity(list_path, identity, size);
    if (result != status::ok) {
        report.list_failed(list_step::open, list_path, result);
        return result;
    }
    result = writer.begin(settings.results);
    const bool update = settings.update;
    if (result == status::ok) {
        result = write_lines(
            writer,
            {std::string(results_magic), update ? "kind update" : "kind verification",
             line_of({"shard", std::to_string(settings.shard.index),
                      std::to_string(settings.shard.count)}),
             "type " + word_of(settings.type), line_of({"list", identity, std::to_string(size)}),
             "folder " + (survey.folder.empty() ? std::string("-") : survey.folder),
             std::string("doall ") + (settings.doall && !update ? "1" : "0"),
             std::string("audit ") + (settings.audit && !update ? "1" : "0"),
             "started " + std::to_string(started)});
    }
    if (result != status::ok) {
        report.scratch_failed(settings.results.c_str(), result, writer.error_number());
        return result;
    }
    shard.results = &writer;
    return status::ok;
}

status end_shard_results(list_shard& shard, reporter& report, const std::string& tail) {
    if (shard.results == nullptr) {
        return status::ok;
    }
    status result = shard.results->line("end " + std::to_string(shard.records) + ' ' + tail);
    if (result == status::ok) {
        result = shard.results->commit();
    }
    if (result != status::ok) {
        report.scratch_failed(shard.results->path().c_str(), result, shard.results->error_number());
    }
    return result;
}

status found_places::add(std::uint64_t ordinal, std::wstring_view path) {
    const std::uint64_t record[2] = {ordinal, path_digest(path)};
    return log_.append(record, sizeof record);
}

bool found_places::place_of(std::wstring_view path, std::uint64_t& ordinal) {
    if (!reading_) {
        reading_ = true;
        if (log_.rewind() != status::ok) {
            return false;
        }
    }
    const std::uint64_t digest = path_digest(path);
    for (;;) {
        std::uint64_t record[2];
        bool got = false;
        if (log_.read(record, sizeof record, got) != status::ok || !got) {
            return false;
        }
        if (record[1] == digest) {
            ordinal = record[0];
            return true;
        }
    }
}

std::string creation_run_key(const run_settings& settings) {
    std::wstring key = settings.given_arguments;
    key += settings.recursive ? L'r' : L'-';
    key += settings.one_file_system ? L'x' : L'-';
    const std::uint64_t digest = path_digest(key);
    unsigned char raw[8];
    for (int i = 0; i < 8; ++i) {
        raw[i] = static_cast<unsigned char>(digest >> (56 - 8 * i));
    }
    return hex_of(raw, sizeof raw);
}

int creation_part::create(const wchar_t* path) {
    status result = writer_.begin(path);
    if (result == status::ok) {
        result = write_lines(
            writer_, {std::string(results_magic), "kind creation",
                      line_of({"shard", std::to_string(settings_.shard.index),
                               std::to_string(settings_.shard.count)}),
                      "type " + word_of(settings_.type), "run " + creation_run_key(settings_),
                      "started " + std::to_string(platform::system_time_ticks())});
    }
    return to_int(result);
}

int creation_part::addFile(const wchar_t* name, const void* hashBytes, std::uint64_t size,
                           std::uint64_t writeTime) {
    std::uint64_t ordinal = 0;
    if (name == nullptr || hashBytes == nullptr || !places_.place_of(name, ordinal)) {
        return to_int(status::unknown_error);
    }
    const auto digest_size = static_cast<std::size_t>(type_row(settings_.type).digest_size);
    ++records_;
    return to_int(writer_.line(line_of(
        {"f", std::to_string(ordinal), std::to_string(size), std::to_string(writeTime),
         hex_of(static_cast<const unsigned char*>(hashBytes), digest_size), encode_text(name)})));
}

int creation_part::close() {
    status result =
        writer_.line(line_of({"end", std::to_string(records_), std::to_string(places_.found)}));
    if (result == status::ok) {
        result = writer_.commit();
    }
    return to_int(result);
}

}  // namespace korvane::app
