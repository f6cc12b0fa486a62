// Which carry-less multiply and SHA paths this CPU offers and the OS lets us use.
//
// A feature bit in cpuid is not enough for the wide paths: the OS must also save
// the YMM/ZMM registers on context switches, which XCR0 reports. Without that
// check an AVX-512 path could run on a CPU that has it but under a kernel or
// hypervisor that disabled it, and fault.

#include <cpuid.h>

#include <cstdint>

#include "hash/x86/cpu_features.h"

namespace korvane::hash_detail::x86 {
namespace {

struct regs {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
};

regs cpuid(unsigned leaf, unsigned subleaf) {
    regs r;
    if (__get_cpuid_count(leaf, subleaf, &r.eax, &r.ebx, &r.ecx, &r.edx) == 0) {
        return regs{};
    }
    return r;
}

std::uint64_t read_xcr0() {
    unsigned lo = 0, hi = 0;
    // xgetbv by opcode so that no target attribute is needed for it.
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<std::uint64_t>(hi) << 32) | lo;
}

constexpr bool bit(unsigned value, int n) {
    return ((value >> n) & 1u) != 0;
}

cpu_support detect() {
    cpu_support s;
    const regs l1 = cpuid(1, 0);
    const bool sse41 = bit(l1.ecx, 19);
    const bool pclmulqdq = bit(l1.ecx, 1);
    s.pclmul = sse41 && pclmulqdq;
    const bool ssse3 = bit(l1.ecx, 9);
    s.sse41 = ssse3 && sse41;

    const regs l0 = cpuid(0, 0);
    // The SHA extensions use XMM registers only, so they need no OS check.
    if (l0.eax >= 7) {
        s.sha_ni = ssse3 && sse41 && bit(cpuid(7, 0).ebx, 29);
    }

    const bool osxsave = bit(l1.ecx, 27);
    const bool avx = bit(l1.ecx, 28);
    if (!osxsave || !avx) {
        return s;
    }
    const std::uint64_t xcr0 = read_xcr0();
    const bool ymm_state = (xcr0 & 0x6) == 0x6;    // XMM and upper YMM halves
    const bool zmm_state = (xcr0 & 0xE6) == 0xE6;  // plus opmask and both ZMM areas

    if (l0.eax < 7) {
        return s;
    }
    const regs l7 = cpuid(7, 0);
    const bool avx2 = bit(l7.ebx, 5);
    const bool bmi1 = bit(l7.ebx, 3);
    const bool bmi2 = bit(l7.ebx, 8);
    const bool avx512f = bit(l7.ebx, 16);
    const bool avx512bw = bit(l7.ebx, 30);
    const bool avx512vl = bit(l7.ebx, 31);
    const bool vpclmulqdq = bit(l7.ecx, 10);

    s.avx2_bmi2 = ymm_state && avx2 && bmi1 && bmi2;
    s.avx512vl_bmi2 = s.avx2_bmi2 && zmm_state && avx512f && avx512vl;
    s.vpclmul256 = s.pclmul && ymm_state && avx2 && vpclmulqdq;
    s.vpclmul512 = s.vpclmul256 && zmm_state && avx512f && avx512bw && avx512vl;
    s.avx2 = ymm_state && avx2;
    s.avx512 = s.avx2 && zmm_state && avx512f && avx512bw && avx512vl;
    return s;
}

}  // namespace

const cpu_support& cpu() {
    static const cpu_support support = detect();
    return support;
}

}  // namespace korvane::hash_detail::x86
