// The files shard runs leave for --merge, which a merge reads from wherever
// the user points it. Properties: a file is taken only when its first line is
// the format's and its last an end line with the count of the records before
// it; a file refused says why (damaged at a line within the file, or cut
// short); and the text escape of names gives back every unit it was given.
//
// Input: the file's bytes.
#include <cstdint>
#include <string>

#include "merge.h"
#include "shard_results.h"
#include "support.h"

using namespace korvane::fuzz;
using korvane::app::merge_issue;
using korvane::app::merge_problem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::filesystem::path path = scratch() / "results";
    write_file(path, bytes);
    merge_problem problem{merge_issue::damaged};
    const bool taken = korvane::app::check_shard_file(path.wstring(), problem);
    if (taken) {
        FUZZ_CHECK(bytes.starts_with(std::string(korvane::app::results_magic) + "\n"));
        FUZZ_CHECK(!bytes.empty() && bytes.back() == '\n');
        const std::size_t last = bytes.rfind('\n', bytes.size() - 2);
        FUZZ_CHECK(last != std::string::npos && bytes.compare(last + 1, 4, "end ") == 0);
    } else {
        const std::size_t lines =
            static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
        FUZZ_CHECK(problem.what == merge_issue::damaged || problem.what == merge_issue::incomplete);
        FUZZ_CHECK(problem.what != merge_issue::damaged || problem.line <= lines + 1);
    }
    std::wstring back;
    const std::wstring text = widen(bytes.substr(0, 512));
    FUZZ_CHECK(korvane::app::decode_text(korvane::app::encode_text(text), back) ||
               text.find(L'\0') != std::wstring::npos);
    FUZZ_CHECK(text.find(L'\0') != std::wstring::npos || back == text);
    return 0;
}
