// The whole run's progress line: files and bytes done of what is known,
// the rate and the time left, kept at the bottom of an interactive terminal.
// The text is built here; where it goes and when is the console reporter's.
#ifndef KORVANE_APP_PROGRESS_H
#define KORVANE_APP_PROGRESS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::app {

// "1,234,567".
std::wstring count_text(std::uint64_t count);
// "512 B", "1.2 GiB", "350 MiB": one decimal below ten of a unit.
std::wstring bytes_text(std::uint64_t bytes);
// "0:07", "12:34", "1:02:03".
std::wstring duration_text(std::uint64_t seconds);
// The columns `text` takes at most: a unit that may be a wide character
// (East Asian scripts) counts two, so that an estimate is never short.
std::size_t columns_of(std::wstring_view text);
// `text` cut to at most `columns`, the middle given up for "...", never
// splitting a character (a UTF-8 sequence on POSIX, a surrogate pair on
// Windows).
std::wstring shorten_middle(std::wstring_view text, std::size_t columns);

// What the line shows at one moment.
struct progress_figures {
    std::uint64_t files_done = 0;
    std::uint64_t files_total = 0;
    bool files_final = false;  // every file of the run is counted
    std::uint64_t bytes_done = 0;
    std::uint64_t bytes_total = 0;
    bool bytes_known = false;  // every counted file's size is known
    std::uint64_t rate = 0;    // bytes a second; 0 while unknown
    std::uint64_t seconds_left = 0;
    bool time_known = false;
    const wchar_t* current = nullptr;  // the file waited for, shown escaped
    int percent = -1;                  // its progress, or -1
};

// The line for `figures`, at most `columns` wide (the name shortened first,
// then the line cut).
std::wstring progress_text(const progress_figures& figures, std::size_t columns);

// The figures of a run as its events come, with the rate smoothed over the
// last few seconds. Times are milliseconds from any fixed start.
class progress_meter {
  public:
    void files_counted(std::uint64_t files, std::uint64_t bytes, bool bytes_known);
    void all_counted() { final_ = true; }
    void file_started() { current_size_ = 0, current_percent_ = -1, current_known_ = false; }
    void file_measured(std::uint64_t size) { current_size_ = size, current_known_ = true; }
    void file_progress(int percent) { current_percent_ = percent; }
    void file_done(std::uint64_t bytes);
    // Takes a sample for the rate and gives the figures as of `now_ms`.
    progress_figures figures(std::uint64_t now_ms);

  private:
    std::uint64_t in_progress() const;

    static constexpr std::size_t samples = 50;  // 5 seconds at 10 a second
    struct sample {
        std::uint64_t ms, bytes, files;
    };
    sample ring_[samples] = {};
    std::size_t taken_ = 0;
    std::uint64_t files_total_ = 0;
    std::uint64_t files_done_ = 0;
    std::uint64_t bytes_total_ = 0;
    std::uint64_t bytes_done_ = 0;
    bool sizes_known_ = true;
    bool final_ = false;
    std::uint64_t current_size_ = 0;
    bool current_known_ = false;
    int current_percent_ = -1;
};

}  // namespace korvane::app

#endif
