// The events of a run as JSON Lines on standard output, one object a line,
// for scripts: no progress, no text to scrape, every name carried whole.
#ifndef KORVANE_APP_JSON_REPORT_H
#define KORVANE_APP_JSON_REPORT_H

#include <string>
#include <string_view>

#include "report.h"

namespace korvane::app {

// One JSON object being written: members in the order added.
class json_object {
  public:
    // Written into `buffer`, whose room the next object takes over.
    json_object(std::wstring& buffer, const wchar_t* event);
    json_object& text(const wchar_t* key, std::wstring_view value);
    // A value known to be printable ASCII without quotes or backslashes (a
    // status word, a digest): taken as it is.
    json_object& word(const wchar_t* key, std::wstring_view value);
    // A name or path: as UTF-8 text, and where its units are not valid text
    // (POSIX names that are not UTF-8, lone UTF-16 surrogates on Windows) its
    // raw units in hexadecimal too, under `key` + "_bytes".
    json_object& name(const wchar_t* key, std::wstring_view value);
    json_object& number(const wchar_t* key, std::uint64_t value);
    json_object& boolean(const wchar_t* key, bool value);
    // The line, closed and ended with a line feed, as the console layer
    // takes text (on POSIX one unit per byte of UTF-8). Once only.
    const std::wstring& line();

  private:
    void key(const wchar_t* name);
    std::wstring& out;
};

class json_reporter final : public reporter {
  public:
    void run_started(const run_facts& run) override;
    bool wants_progress() const override { return false; }
    void file_started(const wchar_t*) override {}
    void file_progress(const wchar_t*, int) override {}
    void file_hashed(const wchar_t*) override {}
    void file_done(const file_outcome& outcome) override;
    void run_halted(const wchar_t* path, halt_reason why) override;
    void walk_problem_met(const walk_problem& problem) override;
    void list_failed(list_step step, const wchar_t* list_path, status cause) override;
    void scratch_failed(const wchar_t* place, status cause, int error_number) override;
    void file_not_listed(const wchar_t* name) override;
    void audit_refused(const wchar_t* list_path) override;
    void entry_updated(const wchar_t* name, update_verdict what) override;
    void update_refused(const wchar_t* list_path, status why) override;
    void unknown_list_format(const wchar_t* list_path) override;
    void path_too_long() override;
    void out_of_memory() override;
    void summary(const verification_tally& tally, const wchar_t* untrusted_file_system) override;
    void improper_line(const wchar_t* list_path, std::uint64_t line) override;
    void nothing_verified(const wchar_t* list_path) override;
    void irregular_checksum(std::uint64_t line) override;
    void program_ended(int exit_status) override;
    void merge_refused(const merge_problem& problem) override;

  private:
    // What the closing object counts, by event.
    struct counts {
        std::uint64_t ok = 0;
        std::uint64_t previously_verified = 0;
        std::uint64_t mismatch = 0;
        std::uint64_t damaged = 0;
        std::uint64_t missing = 0;
        std::uint64_t error = 0;
        std::uint64_t outside_signed_text = 0;
        std::uint64_t added = 0;
        std::uint64_t not_added = 0;
        std::uint64_t not_listed = 0;
        std::uint64_t updated = 0;
        std::uint64_t missing_kept = 0;
        std::uint64_t removed = 0;
        std::uint64_t problems = 0;
        std::uint64_t improper_lines = 0;
    };

    std::wstring line_;  // the line being written, its room kept from line to line
    run_facts run_{run_kind::verification, nullptr, list_type::default_type};
    bool started_ = false;
    std::wstring untrusted_;
    std::wstring try_types_;  // the -t words to try, blank-separated; empty for none
    counts counts_;
};

// The reporter the settings choose at each event: JSON Lines with --json,
// the console otherwise. Events before the option pass has seen --json (a
// creation's expansion goes on during it) already follow it, since the
// option is looked at again for every event.
class chosen_reporter final : public reporter {
  public:
    chosen_reporter(const run_settings& settings, reporter& console, reporter& json)
        : settings_(settings), console_(console), json_(json) {}

    void run_started(const run_facts& run) override { pick().run_started(run); }
    bool wants_progress() const override {
        return settings_.json ? json_.wants_progress() : console_.wants_progress();
    }
    void file_started(const wchar_t* path) override { pick().file_started(path); }
    void file_progress(const wchar_t* path, int percent) override {
        pick().file_progress(path, percent);
    }
    void file_hashed(const wchar_t* path) override { pick().file_hashed(path); }
    void file_done(const file_outcome& outcome) override { pick().file_done(outcome); }
    bool wants_frequent_progress() const override {
        return settings_.json ? json_.wants_frequent_progress()
                              : console_.wants_frequent_progress();
    }
    void file_measured(std::uint64_t size) override { pick().file_measured(size); }
    void files_counted(std::uint64_t files, std::uint64_t bytes, bool bytes_known) override {
        pick().files_counted(files, bytes, bytes_known);
    }
    void files_all_counted() override { pick().files_all_counted(); }
    void run_halted(const wchar_t* path, halt_reason why) override { pick().run_halted(path, why); }
    void walk_problem_met(const walk_problem& problem) override {
        pick().walk_problem_met(problem);
    }
    void list_failed(list_step step, const wchar_t* list_path, status cause) override {
        pick().list_failed(step, list_path, cause);
    }
    void scratch_failed(const wchar_t* place, status cause, int error_number) override {
        pick().scratch_failed(place, cause, error_number);
    }
    void file_not_listed(const wchar_t* name) override { pick().file_not_listed(name); }
    void audit_refused(const wchar_t* list_path) override { pick().audit_refused(list_path); }
    void merge_refused(const merge_problem& problem) override { pick().merge_refused(problem); }
    void entry_updated(const wchar_t* name, update_verdict what) override {
        pick().entry_updated(name, what);
    }
    void update_refused(const wchar_t* list_path, status why) override {
        pick().update_refused(list_path, why);
    }
    void unknown_list_format(const wchar_t* list_path) override {
        pick().unknown_list_format(list_path);
    }
    void path_too_long() override { pick().path_too_long(); }
    void out_of_memory() override { pick().out_of_memory(); }
    void summary(const verification_tally& tally, const wchar_t* untrusted_file_system) override {
        pick().summary(tally, untrusted_file_system);
    }
    void improper_line(const wchar_t* list_path, std::uint64_t line) override {
        pick().improper_line(list_path, line);
    }
    void nothing_verified(const wchar_t* list_path) override { pick().nothing_verified(list_path); }
    void irregular_checksum(std::uint64_t line) override { pick().irregular_checksum(line); }
    void program_ended(int exit_status) override { pick().program_ended(exit_status); }

  private:
    reporter& pick() { return settings_.json ? json_ : console_; }

    const run_settings& settings_;
    reporter& console_;
    reporter& json_;
};

}  // namespace korvane::app

#endif
