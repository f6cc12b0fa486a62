// Pattern matching shared by every target: the OS's own matching differs
// between targets (and on Windows also matches short 8.3 names), so korvane
// decides matches itself.
#include "platform/fs.h"

namespace korvane::platform {

bool wildcard_match(const wchar_t* pattern, const wchar_t* name) {
    // Iterative matcher with one backtrack point: linear in practice and immune
    // to the exponential blow-up of the naive recursive form.
    const wchar_t* star = nullptr;
    const wchar_t* resume = nullptr;
    while (*name != L'\0') {
        if (*pattern == L'*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == L'?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == L'*') {
        ++pattern;
    }
    return *pattern == L'\0';
}

}  // namespace korvane::platform
