// What differs between the targets the tests run on, in one place, so that a
// test states a target-specific expectation without scattered conditionals.
#ifndef KORVANE_TESTS_SUPPORT_TARGET_H
#define KORVANE_TESTS_SUPPORT_TARGET_H

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/text.h"

namespace korvane::testing {

#if defined(_WIN32)
inline constexpr bool on_windows = true;
#else
inline constexpr bool on_windows = false;
#endif

// Picks the expectation of the target the test runs on.
template <typename T>
constexpr T per_target(T posix, T windows) {
    return on_windows ? windows : posix;
}

// A path as korvane's wide calls take it: UTF-16 on Windows, a unit a byte
// elsewhere.
inline std::wstring wide_path(const std::filesystem::path& path) {
    return on_windows ? path.wstring() : korvane::platform::widen(path.string());
}

// Sets (a value) or removes (nothing) an environment variable of this process.
void set_environment(const char* name, const std::optional<std::string>& value);

}  // namespace korvane::testing

// Skips the rest of a test on one of the targets, saying why.
#define KORVANE_SKIP_ON_WINDOWS(why)    \
    if (::korvane::testing::on_windows) \
    GTEST_SKIP() << (why)
#define KORVANE_SKIP_ON_POSIX(why)       \
    if (!::korvane::testing::on_windows) \
    GTEST_SKIP() << (why)

#endif
