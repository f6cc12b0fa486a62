#include "support/temp_dir.h"

#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace korvane::testing {

temp_dir::temp_dir() {
    // create_directory reports whether it made the directory, so a name that
    // another test program took meanwhile is simply passed over.
    static std::random_device entropy;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, "korvane-test-%08x", static_cast<unsigned>(entropy()));
        auto candidate = base / name;
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::replace, error);
            root = candidate;
            return;
        }
        if (error) {
            throw std::runtime_error("cannot create a temporary directory: " + error.message());
        }
    }
    throw std::runtime_error("no free temporary directory name");
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    // Give back permissions a test took away so everything can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             root, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::permissions(root, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(root, ignored);
}

std::filesystem::path name_path(std::string_view name) {
#if defined(_WIN32)
    return std::filesystem::path(std::u8string(name.begin(), name.end()));
#else
    return std::filesystem::path(name);
#endif
}

std::filesystem::path temp_dir::write(std::string_view name, std::string_view bytes) const {
    auto target = root / name_path(name);
    std::filesystem::create_directories(target.parent_path());
    write_file(target, bytes);
    return target;
}

std::string temp_dir::read(std::string_view name) const {
    return read_file(root / name_path(name));
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string out(size, '\0');
    for (auto& c : out) {
        c = static_cast<char>(gen() & 0xFF);
    }
    return out;
}

std::string hex_text(const void* bytes, std::size_t size) {
    std::string out(2 * size, '\0');
    platform::encode_hex(static_cast<const unsigned char*>(bytes), size, out.data(),
                         platform::hex_case::lower);
    return out;
}

}  // namespace korvane::testing
