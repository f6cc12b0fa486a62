#include "exclude.h"

#include <cstddef>

#include "platform/text.h"

namespace korvane::app {

namespace {

enum class token_kind : unsigned char { unit, any_one, star, star_star, star_star_slash };

struct token {
    token_kind kind;
    wchar_t unit;
};

std::vector<token> tokenize(std::wstring_view pattern) {
    std::vector<token> tokens;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const wchar_t c = pattern[i];
        if (c == L'?') {
            tokens.push_back({token_kind::any_one, c});
        } else if (c != L'*') {
            tokens.push_back({token_kind::unit, c});
        } else if (i + 1 < pattern.size() && pattern[i + 1] == L'*') {
            ++i;
            const bool slash = i + 1 < pattern.size() && pattern[i + 1] == L'/';
            i += slash ? 1 : 0;
            tokens.push_back({slash ? token_kind::star_star_slash : token_kind::star_star, c});
        } else {
            tokens.push_back({token_kind::star, c});
        }
    }
    return tokens;
}

bool same_unit(wchar_t a, wchar_t b) {
    if constexpr (platform::wide_units_are_utf16) {
        return platform::ascii_lower(a) == platform::ascii_lower(b);
    }
    return a == b;
}

// One cell of the table: whether tokens[i..] match text[j..]. `next` is the
// column j + 1 (valid when j < text size), `here` the column j for the tokens
// after i; `slash_runs` the column j + 1 of "a run, then a '/', then the rest".
struct cell_inputs {
    const token& at;
    wchar_t unit;     // text[j], when there is one
    bool has_unit;    // j < text size
    bool rest_here;   // tokens[i+1..] match text[j..]
    bool rest_next;   // tokens[i+1..] match text[j+1..]
    bool self_next;   // tokens[i..] match text[j+1..]
    bool slash_next;  // a run then '/' then tokens[i+1..] matches text[j+1..]
};

bool cell(const cell_inputs& in) {
    switch (in.at.kind) {
        case token_kind::unit:
            return in.has_unit && same_unit(in.at.unit, in.unit) && in.rest_next;
        case token_kind::any_one:
            return in.has_unit && in.unit != L'/' && in.rest_next;
        case token_kind::star:
            return in.rest_here || (in.has_unit && in.unit != L'/' && in.self_next);
        case token_kind::star_star:
            return in.rest_here || (in.has_unit && in.self_next);
        case token_kind::star_star_slash:
            return in.rest_here || (in.has_unit && in.unit == L'/' && in.rest_next) ||
                   (in.has_unit && in.slash_next);
    }
    return false;
}

}  // namespace

bool glob_match(std::wstring_view pattern, std::wstring_view text) {
    const std::vector<token> tokens = tokenize(pattern);
    const std::size_t count = tokens.size();
    const std::size_t length = text.size();
    // Two columns of the table, j + 1 and j, walked from the end of the text.
    std::vector<char> next(count + 1, 0), here(count + 1, 0);
    std::vector<char> slash_next(count + 1, 0), slash_here(count + 1, 0);
    for (std::size_t j = length + 1; j-- > 0;) {
        const bool has_unit = j < length;
        here[count] = j == length ? 1 : 0;
        for (std::size_t i = count; i-- > 0;) {
            const cell_inputs in{tokens[i],
                                 has_unit ? text[j] : L'\0',
                                 has_unit,
                                 here[i + 1] != 0,
                                 has_unit && next[i + 1] != 0,
                                 has_unit && next[i] != 0,
                                 has_unit && slash_next[i] != 0};
            here[i] = cell(in) ? 1 : 0;
            // "a run, then '/', then the rest" from j: for star_star_slash only.
            slash_here[i] =
                (has_unit && ((text[j] == L'/' && next[i + 1] != 0) || slash_next[i] != 0)) ? 1 : 0;
        }
        next.swap(here);
        slash_next.swap(slash_here);
    }
    return next[0] != 0;
}

bool exclude_matches(std::wstring_view pattern, std::wstring_view relative, bool is_folder) {
    bool folders_only = false;
    while (!pattern.empty() && pattern.back() == L'/') {
        pattern.remove_suffix(1);
        folders_only = true;
    }
    if (pattern.empty() || (folders_only && !is_folder)) {
        return false;
    }
    if (glob_match(pattern, relative)) {
        return true;
    }
    const std::size_t slash = relative.rfind(L'/');
    return slash != std::wstring_view::npos && glob_match(pattern, relative.substr(slash + 1));
}

bool exclude_list::takes(std::wstring_view relative, bool is_folder) const {
    for (const std::wstring& pattern : patterns_) {
        if (exclude_matches(pattern, relative, is_folder)) {
            return true;
        }
    }
    return false;
}

namespace {

bool is_separator(wchar_t c) {
    return c == L'/' || (platform::wide_units_are_utf16 && c == L'\\');
}

}  // namespace

bool exclude_list::takes_named(std::wstring_view path, bool is_folder) const {
    if (patterns_.empty()) {
        return false;
    }
    std::wstring cleaned;  // the components so far, "." and ".." left out
    std::size_t at = 0;
    while (at < path.size()) {
        std::size_t end = at;
        while (end < path.size() && !is_separator(path[end])) {
            ++end;
        }
        const std::wstring_view part = path.substr(at, end - at);
        at = end + 1;
        if (part.empty() || part == L"." || part == L"..") {
            continue;
        }
        if (!cleaned.empty()) {
            cleaned += L'/';
        }
        cleaned += part;
        const bool last = at >= path.size();
        if (takes(cleaned, last ? is_folder : true)) {
            return true;
        }
    }
    return false;
}

}  // namespace korvane::app
