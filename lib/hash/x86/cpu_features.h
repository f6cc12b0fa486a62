// What the x86-64 CPU offers and the OS lets us use, for choosing hash paths.
#ifndef KORVANE_LIB_HASH_X86_CPU_FEATURES_H
#define KORVANE_LIB_HASH_X86_CPU_FEATURES_H

namespace korvane::hash_detail::x86 {

struct cpu_support {
    bool pclmul = false;         // PCLMULQDQ and SSE4.1
    bool sse41 = false;          // SSSE3 and SSE4.1
    bool vpclmul256 = false;     // plus VPCLMULQDQ, AVX2, and the OS saves YMM state
    bool vpclmul512 = false;     // plus AVX-512 F/VL/BW, and the OS saves ZMM and mask state
    bool sha_ni = false;         // SHA extensions, SSSE3 and SSE4.1
    bool avx2_bmi2 = false;      // AVX2, BMI1 and BMI2, and the OS saves YMM state
    bool avx512vl_bmi2 = false;  // plus AVX-512 F/VL, and the OS saves ZMM and mask state
    bool avx2 = false;           // AVX2, and the OS saves YMM state
    bool avx512 = false;         // plus AVX-512 F/VL/BW, and the OS saves ZMM and mask state
};

// Read once from cpuid and XCR0; safe to call from any thread.
const cpu_support& cpu();

}  // namespace korvane::hash_detail::x86

#endif
