#include "support.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

namespace korvane::fuzz {

namespace fs = std::filesystem;

void property_failed(const char* what, const char* file, int line) {
    std::fprintf(stderr, "\n*** property violated: %s\n    at %s:%d\n", what, file, line);
    std::fflush(stderr);
    __builtin_trap();
}

namespace {

fs::path make_scratch() {
    std::error_code error;
    fs::path base = "/dev/shm";
    if (!fs::is_directory(base, error)) {
        base = fs::temp_directory_path();
    }
    std::random_device random;
    for (;;) {
        fs::path candidate = base / ("korvane-fuzz-" + std::to_string(random()));
        if (fs::create_directory(candidate, error)) {
            return candidate;
        }
        if (error) {
            std::fprintf(stderr, "cannot create a scratch folder in %s\n", base.c_str());
            std::abort();
        }
    }
}

struct scratch_folder {
    fs::path path = make_scratch();
    ~scratch_folder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

}  // namespace

const fs::path& scratch() {
    static const scratch_folder folder;
    return folder.path;
}

fs::path config_file() {
    return scratch() / "config" / "Korvane" / "korvane.conf";
}

void write_config(const char* text) {
    static const bool pointed = [] {
        fs::create_directories(scratch() / "config" / "Korvane");
        ::setenv("LOCALAPPDATA", (scratch() / "config").c_str(), 1);
        return true;
    }();
    (void)pointed;
    std::error_code ignored;
    fs::remove(config_file(), ignored);
    if (text != nullptr) {
        write_file(config_file(), text);
    }
}

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::abort();
    }
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring widen(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    return text;
}

}  // namespace korvane::fuzz
