// Choosing BLAKE3's many-input function at run time: the table of paths for
// hash/cpu_paths.h, which makes the choice once and keeps it in the pointer
// the hasher calls.

#include "hash/blake3_paths.h"
#include "hash/cpu_paths.h"

#if KORVANE_HASH_X86
#include "hash/x86/blake3_x86.h"
#include "hash/x86/cpu_features.h"
#endif

namespace korvane::blake3 {
namespace {

struct blake3_kernel {
    using path = blake3::path;
    using function = many_fn;
    static constexpr std::array<hash_detail::cpu_path<many_fn>, path_count> rows = {{
        {"portable", hash_many_portable, nullptr},
        {"sse41", KORVANE_X86_PATH(x86::hash_many_sse41, sse41)},
        {"avx2", KORVANE_X86_PATH(x86::hash_many_avx2, avx2)},
        {"avx512", KORVANE_X86_PATH(x86::hash_many_avx512, avx512)},
    }};
    static constexpr path preference[] = {path::avx512, path::avx2, path::sse41, path::portable};
    static constexpr path safe = path::portable;
};

using lookup = hash_detail::path_lookup<blake3_kernel>;

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

many_fn function(path p) {
    return lookup::of(p);
}

void hash_many(const many_job& job, unsigned char* out) {
    lookup::current()(job, out);
}

}  // namespace korvane::blake3
