// Choosing the SHA block functions at run time.
//
// Each algorithm calls through one atomic function pointer, which starts out
// at a resolver: the first block detects the CPU, stores the best path and
// runs it. Later calls cost one relaxed load and an indirect call per run of
// whole blocks. Two threads racing through the resolver store the same answer.

#include <atomic>

#include "hash/sha_paths.h"

#if defined(__x86_64__) || defined(_M_X64)
#define KORVANE_SHA_X86 1
#include "hash/x86/cpu_features.h"
#include "hash/x86/sha_x86.h"
#else
#define KORVANE_SHA_X86 0
#endif

namespace korvane::sha {
namespace {

struct support_table {
    bool supported[algorithm_count][path_count] = {};
};

support_table detect() {
    support_table t;
    for (auto& row : t.supported) {
        row[static_cast<int>(path::portable)] = true;
    }
#if KORVANE_SHA_X86
    const auto& cpu = hash_detail::x86::cpu();
    t.supported[static_cast<int>(algorithm::sha1)][static_cast<int>(path::shani)] = cpu.sha_ni;
    t.supported[static_cast<int>(algorithm::sha256)][static_cast<int>(path::shani)] = cpu.sha_ni;
    t.supported[static_cast<int>(algorithm::sha512)][static_cast<int>(path::avx2)] = cpu.avx2_bmi2;
    t.supported[static_cast<int>(algorithm::sha512)][static_cast<int>(path::avx512)] =
        cpu.avx512vl_bmi2;
#endif
    return t;
}

const support_table& support() {
    static const support_table table = detect();  // thread-safe, once
    return table;
}

blocks32_fn raw_sha1(path p) {
#if KORVANE_SHA_X86
    if (p == path::shani) {
        return x86::sha1_blocks_shani;
    }
#endif
    (void)p;
    return sha1_blocks_portable;
}

blocks32_fn raw_sha256(path p) {
#if KORVANE_SHA_X86
    if (p == path::shani) {
        return x86::sha256_blocks_shani;
    }
#endif
    (void)p;
    return sha256_blocks_portable;
}

blocks64_fn raw_sha512(path p) {
#if KORVANE_SHA_X86
    if (p == path::avx2) {
        return x86::sha512_blocks_avx2;
    }
    if (p == path::avx512) {
        return x86::sha512_blocks_avx512;
    }
#endif
    (void)p;
    return sha512_blocks_portable;
}

void resolve_sha1(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void resolve_sha256(std::uint32_t* state, const unsigned char* data, std::size_t blocks);
void resolve_sha512(std::uint64_t* state, const unsigned char* data, std::size_t blocks);

std::atomic<blocks32_fn> active_sha1{resolve_sha1};
std::atomic<blocks32_fn> active_sha256{resolve_sha256};
std::atomic<blocks64_fn> active_sha512{resolve_sha512};
std::atomic<path> active_ids[algorithm_count] = {path::portable, path::portable, path::portable};

void resolve_sha1(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    reset_path(algorithm::sha1);
    active_sha1.load(std::memory_order_relaxed)(state, data, blocks);
}

void resolve_sha256(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    reset_path(algorithm::sha256);
    active_sha256.load(std::memory_order_relaxed)(state, data, blocks);
}

void resolve_sha512(std::uint64_t* state, const unsigned char* data, std::size_t blocks) {
    reset_path(algorithm::sha512);
    active_sha512.load(std::memory_order_relaxed)(state, data, blocks);
}

bool resolved(algorithm a) {
    switch (a) {
        case algorithm::sha1:
            return active_sha1.load(std::memory_order_acquire) != resolve_sha1;
        case algorithm::sha256:
            return active_sha256.load(std::memory_order_acquire) != resolve_sha256;
        case algorithm::sha512:
            return active_sha512.load(std::memory_order_acquire) != resolve_sha512;
    }
    return false;
}

}  // namespace

const char* path_name(path p) {
    switch (p) {
        case path::portable:
            return "portable";
        case path::shani:
            return "shani";
        case path::avx2:
            return "avx2";
        case path::avx512:
            return "avx512";
    }
    return "unknown";
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
    const int ai = static_cast<int>(a);
    const int pi = static_cast<int>(p);
    return ai >= 0 && ai < algorithm_count && pi >= 0 && pi < path_count &&
           support().supported[ai][pi];
}

path best_path(algorithm a) {
    for (path p : {path::shani, path::avx512, path::avx2}) {
        if (path_supported(a, p)) {
            return p;
        }
    }
    return path::portable;
}

path active_path(algorithm a) {
    if (!resolved(a)) {
        return best_path(a);
    }
    return active_ids[static_cast<int>(a)].load(std::memory_order_relaxed);
}

bool force_path(algorithm a, path p) {
    if (!path_supported(a, p)) {
        return false;
    }
    active_ids[static_cast<int>(a)].store(p, std::memory_order_relaxed);
    switch (a) {
        case algorithm::sha1:
            active_sha1.store(raw_sha1(p), std::memory_order_release);
            break;
        case algorithm::sha256:
            active_sha256.store(raw_sha256(p), std::memory_order_release);
            break;
        case algorithm::sha512:
            active_sha512.store(raw_sha512(p), std::memory_order_release);
            break;
    }
    return true;
}

void reset_path(algorithm a) {
    force_path(a, best_path(a));
}

blocks32_fn sha1_function(path p) {
    return raw_sha1(path_supported(algorithm::sha1, p) ? p : path::portable);
}

blocks32_fn sha256_function(path p) {
    return raw_sha256(path_supported(algorithm::sha256, p) ? p : path::portable);
}

blocks64_fn sha512_function(path p) {
    return raw_sha512(path_supported(algorithm::sha512, p) ? p : path::portable);
}

void sha1_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    active_sha1.load(std::memory_order_relaxed)(state, data, blocks);
}

void sha256_blocks(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
    active_sha256.load(std::memory_order_relaxed)(state, data, blocks);
}

void sha512_blocks(std::uint64_t* state, const unsigned char* data, std::size_t blocks) {
    active_sha512.load(std::memory_order_relaxed)(state, data, blocks);
}

}  // namespace korvane::sha
