// Choosing the CRC-32 path at run time: the table of paths for
// hash/cpu_paths.h, which makes the choice once and keeps it in the pointer
// `crc::update` calls.

#include "hash/cpu_paths.h"
#include "hash/crc32_paths.h"

#if KORVANE_HASH_X86
#include "hash/x86/cpu_features.h"
#include "hash/x86/crc32_x86.h"
#endif

namespace korvane::crc32 {
namespace {

struct kernel {
    using path = crc32::path;
    using function = update_fn;
    using row = hash_detail::cpu_path<update_fn>;
    static constexpr std::array<row, path_count> rows = {{
        {"reference", update_reference, nullptr},
        {"slicing16", update_slicing16, nullptr},
        {"pclmul", KORVANE_X86_PATH(x86::update_pclmul, pclmul)},
        {"vpclmul256", KORVANE_X86_PATH(x86::update_vpclmul256, vpclmul256)},
        {"vpclmul512", KORVANE_X86_PATH(x86::update_vpclmul512, vpclmul512)},
    }};
    static constexpr path preference[] = {path::vpclmul512, path::vpclmul256, path::pclmul,
                                          path::slicing16};
    // A careless caller of an unsupported path gets the plainest one.
    static constexpr path safe = path::reference;
};

using lookup = hash_detail::path_lookup<kernel>;

}  // namespace

const char* path_name(path p) {
    return lookup::name(p);
}

bool path_supported(path p) {
    return lookup::supported(p);
}

path best_path() {
    return lookup::best();
}

path active_path() {
    return lookup::active_path();
}

bool force_path(path p) {
    return lookup::force(p);
}

void reset_path() {
    lookup::reset();
}

std::uint32_t update_with(path p, std::uint32_t reg, const unsigned char* data,
                          std::size_t length) {
    return lookup::of(p)(reg, data, length);
}

std::uint32_t update(std::uint32_t reg, const unsigned char* data, std::size_t length) {
    return lookup::current()(reg, data, length);
}

}  // namespace korvane::crc32
