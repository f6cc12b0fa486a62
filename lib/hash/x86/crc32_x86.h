// x86-64 CRC-32 paths built on carry-less multiplication. Only compiled on
// x86-64; hash/x86/cpu_features.h says which of them may run.
#ifndef KORVANE_LIB_HASH_X86_CRC32_X86_H
#define KORVANE_LIB_HASH_X86_CRC32_X86_H

#include <cstddef>
#include <cstdint>

namespace korvane::crc32::x86 {

std::uint32_t update_pclmul(std::uint32_t reg, const unsigned char* data, std::size_t length);
std::uint32_t update_vpclmul256(std::uint32_t reg, const unsigned char* data, std::size_t length);
std::uint32_t update_vpclmul512(std::uint32_t reg, const unsigned char* data, std::size_t length);

}  // namespace korvane::crc32::x86

#endif
