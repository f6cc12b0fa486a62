// A temporary directory for one test, removed with everything in it afterwards.
#ifndef KORVANE_TESTS_SUPPORT_TEMP_DIR_H
#define KORVANE_TESTS_SUPPORT_TEMP_DIR_H

#include <filesystem>
#include <string>
#include <string_view>

namespace korvane::testing {

// A relative name written in a test, which is UTF-8 text: Windows would read
// a narrow name in its ANSI code page instead.
std::filesystem::path name_path(std::string_view name);

class temp_dir {
  public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::filesystem::path& path() const { return root; }
    std::filesystem::path operator/(std::string_view name) const { return root / name_path(name); }

    // Writes `bytes` to `name` (relative to the directory), creating parents.
    std::filesystem::path write(std::string_view name, std::string_view bytes) const;
    std::string read(std::string_view name) const;

  private:
    std::filesystem::path root;
};

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, std::string_view bytes);

// Deterministic pseudo-random bytes.
std::string random_bytes(std::size_t size, unsigned seed);

// `size` bytes as lower-case hexadecimal text (a digest as the tools print it).
std::string hex_text(const void* bytes, std::size_t size);

}  // namespace korvane::testing

#endif
