// Choosing the CRC-32 path at run time.
//
// `crc::update` calls through one atomic function pointer. It starts out at a
// resolver that detects the CPU, stores the best path and runs it, so the
// detection happens on the first checksum rather than at library load, and
// every later call costs one relaxed load and an indirect call, whatever the
// length. Two threads racing through the resolver store the same answer.

#include <atomic>

#include "hash/crc32_paths.h"

#if defined(__x86_64__) || defined(_M_X64)
#define KORVANE_CRC32_X86 1
#include "hash/x86/cpu_features.h"
#include "hash/x86/crc32_x86.h"
#else
#define KORVANE_CRC32_X86 0
#endif

namespace korvane::crc32 {
namespace {

struct support_table {
    bool supported[path_count] = {};
};

support_table detect() {
    support_table t;
    t.supported[static_cast<int>(path::reference)] = true;
    t.supported[static_cast<int>(path::slicing16)] = true;
#if KORVANE_CRC32_X86
    const auto& cpu = hash_detail::x86::cpu();
    t.supported[static_cast<int>(path::pclmul)] = cpu.pclmul;
    t.supported[static_cast<int>(path::vpclmul256)] = cpu.vpclmul256;
    t.supported[static_cast<int>(path::vpclmul512)] = cpu.vpclmul512;
#endif
    return t;
}

const support_table& support() {
    static const support_table table = detect();  // thread-safe, once
    return table;
}

update_fn function_of(path p) {
    switch (p) {
        case path::reference:
            return update_reference;
        case path::slicing16:
            return update_slicing16;
#if KORVANE_CRC32_X86
        case path::pclmul:
            return x86::update_pclmul;
        case path::vpclmul256:
            return x86::update_vpclmul256;
        case path::vpclmul512:
            return x86::update_vpclmul512;
#else
        case path::pclmul:
        case path::vpclmul256:
        case path::vpclmul512:
            break;
#endif
    }
    return update_slicing16;
}

std::uint32_t resolve_and_update(std::uint32_t reg, const unsigned char* data, std::size_t length);

std::atomic<update_fn> active{resolve_and_update};
std::atomic<path> active_id{path::slicing16};

std::uint32_t resolve_and_update(std::uint32_t reg, const unsigned char* data, std::size_t length) {
    reset_path();
    return active.load(std::memory_order_relaxed)(reg, data, length);
}

}  // namespace

const char* path_name(path p) {
    switch (p) {
        case path::reference:
            return "reference";
        case path::slicing16:
            return "slicing16";
        case path::pclmul:
            return "pclmul";
        case path::vpclmul256:
            return "vpclmul256";
        case path::vpclmul512:
            return "vpclmul512";
    }
    return "unknown";
}

bool path_supported(path p) {
    const int i = static_cast<int>(p);
    return i >= 0 && i < path_count && support().supported[i];
}

path best_path() {
    for (path p : {path::vpclmul512, path::vpclmul256, path::pclmul}) {
        if (path_supported(p)) {
            return p;
        }
    }
    return path::slicing16;
}

path active_path() {
    if (active.load(std::memory_order_acquire) == resolve_and_update) {
        return best_path();
    }
    return active_id.load(std::memory_order_relaxed);
}

bool force_path(path p) {
    if (!path_supported(p)) {
        return false;
    }
    active_id.store(p, std::memory_order_relaxed);
    active.store(function_of(p), std::memory_order_release);
    return true;
}

void reset_path() {
    force_path(best_path());
}

std::uint32_t update_with(path p, std::uint32_t reg, const unsigned char* data,
                          std::size_t length) {
    // An unsupported path would fault on an illegal instruction; fall back to
    // the reference rather than crash a careless caller.
    return function_of(path_supported(p) ? p : path::reference)(reg, data, length);
}

std::uint32_t update(std::uint32_t reg, const unsigned char* data, std::size_t length) {
    return active.load(std::memory_order_relaxed)(reg, data, length);
}

}  // namespace korvane::crc32
