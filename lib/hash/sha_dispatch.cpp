// Choosing the SHA block functions at run time: one table of paths per
// algorithm for hash/cpu_paths.h, which makes each choice once and keeps it
// in the pointer the hashers call, per run of whole blocks.

#include "hash/cpu_paths.h"
#include "hash/sha_paths.h"

#if KORVANE_HASH_X86
#include "hash/x86/cpu_features.h"
#include "hash/x86/sha_x86.h"
#endif

namespace korvane::sha {
namespace {

template <typename Fn>
using rows_of = std::array<hash_detail::cpu_path<Fn>, path_count>;

// The SHA extensions have no SHA-512 instructions; the vector schedules are
// SHA-512's only.
struct sha1_kernel {
    using path = sha::path;
    using function = blocks32_fn;
    static constexpr rows_of<blocks32_fn> rows = {{
        {"portable", sha1_blocks_portable, nullptr},
        {"shani", KORVANE_X86_PATH(x86::sha1_blocks_shani, sha_ni)},
        {"avx2", nullptr, nullptr},
        {"avx512", nullptr, nullptr},
    }};
    static constexpr path preference[] = {path::shani, path::portable};
    static constexpr path safe = path::portable;
};

struct sha256_kernel {
    using path = sha::path;
    using function = blocks32_fn;
    static constexpr rows_of<blocks32_fn> rows = {{
        {"portable", sha256_blocks_portable, nullptr},
        {"shani", KORVANE_X86_PATH(x86::sha256_blocks_shani, sha_ni)},
        {"avx2", nullptr, nullptr},
        {"avx512", nullptr, nullptr},
    }};
    static constexpr path preference[] = {path::shani, path::portable};
    static constexpr path safe = path::portable;
};

struct sha512_kernel {
    using path = sha::path;
    using function = blocks64_fn;
    static constexpr rows_of<blocks64_fn> rows = {{
        {"portable", sha512_blocks_portable, nullptr},
        {"shani", nullptr, nullptr},
        {"avx2", KORVANE_X86_PATH(x86::sha512_blocks_avx2, avx2_bmi2)},
        {"avx512", KORVANE_X86_PATH(x86::sha512_blocks_avx512, avx512vl_bmi2)},
    }};
    static constexpr path preference[] = {path::avx512, path::avx2, path::portable};
    static constexpr path safe = path::portable;
};

using sha1_lookup = hash_detail::path_lookup<sha1_kernel>;
using sha256_lookup = hash_detail::path_lookup<sha256_kernel>;
using sha512_lookup = hash_detail::path_lookup<sha512_kernel>;

// Runs `f` on the lookup of `a`; `otherwise` for a value outside the enum.
template <typename F, typename R>
R with_lookup(algorithm a, F f, R otherwise) {
    switch (a) {
        case algorithm::sha1:
            return f(sha1_lookup{});
        case algorithm::sha256:
            return f(sha256_lookup{});
        case algorithm::sha512:
            return f(sha512_lookup{});
    }
    return otherwise;
}

}  // namespace

const char* path_name(path p) {
    return sha512_lookup::name(p);
}

const char* algorithm_name(algorithm a) {
    switch (a) {
        case algorithm::sha1:
            return "sha1";
        case algorithm::sha256:
            return "sha256";
        case algorithm::sha512:
            return "sha512";
    }
    return "unknown";
}

bool path_supported(algorithm a, path p) {
    return with_lookup(
        a, [p](auto l) { return l.supported(p); }, false);
}

path best_path(algorithm a) {
    return with_lookup(
        a, [](auto l) { return l.best(); }, path::portable);
}

path active_path(algorithm a) {
    return with_lookup(
        a, [](auto l) { return l.active_path(); }, path::portable);
}

bool force_path(algorithm a, path p) {
    return with_lookup(
        a, [p](auto l) { return l.force(p); }, false);
}

void reset_path(algorithm a) {
    with_lookup(
        a,
        [](auto l) {
            l.reset();
            return true;
        },
        false);
}

blocks32_fn sha1_function(path p) {
    return sha1_lookup::of(p);
}

blocks32_fn sha256_function(path p) {
    return sha256_lookup::of(p);
}

blocks64_fn sha512_function(path p) {
    return sha512_lookup::of(p);
}

void sha1_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    sha1_lookup::current()(state, data, blocks);
}

void sha256_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    sha256_lookup::current()(state, data, blocks);
}

void sha512_blocks(std::uint64_t* state, const unsigned char* data, std::size_t blocks) {
    sha512_lookup::current()(state, data, blocks);
}

}  // namespace korvane::sha
