// CRC-32 paths in plain C++: the one-table reference and slicing-by-16.

#include <array>
#include <cstdint>

#include "hash/crc32_paths.h"
#include "hash/crc32_table.h"
#include "hash/load.h"

namespace korvane::crc32 {
namespace {

using hash_detail::load_le32;

constexpr std::uint32_t byte_step(std::uint32_t reg, unsigned char b) {
    return table[(reg ^ b) & 0xFFu] ^ (reg >> 8);
}

constexpr std::uint32_t zero_step(std::uint32_t reg) {
    return table[reg & 0xFFu] ^ (reg >> 8);
}

// slicing[k][n] is the register contribution of byte n followed by k zero
// bytes. Built by the compiler from the one-table constant, so it is static
// data like the table itself.
using slicing_tables = std::array<std::array<std::uint32_t, 256>, 16>;

constexpr slicing_tables make_slicing_tables() {
    slicing_tables t{};
    for (int n = 0; n < 256; ++n) {
        t[0][n] = table[n];
    }
    for (int k = 1; k < 16; ++k) {
        for (int n = 0; n < 256; ++n) {
            t[k][n] = zero_step(t[k - 1][n]);
        }
    }
    return t;
}

alignas(64) constexpr slicing_tables slicing = make_slicing_tables();

}  // namespace

std::uint32_t update_reference(std::uint32_t reg, const unsigned char* data, std::size_t length) {
    if (length == 0) {
        return reg;
    }
    if (reinterpret_cast<std::uintptr_t>(data) % 4 == 0 && length % 4 == 0) {
        for (std::size_t i = 0; i < length; i += 4) {
            reg ^= load_le32(data + i);
            reg = zero_step(reg);
            reg = zero_step(reg);
            reg = zero_step(reg);
            reg = zero_step(reg);
        }
        return reg;
    }
    for (std::size_t i = 0; i < length; ++i) {
        reg = byte_step(reg, data[i]);
    }
    return reg;
}

std::uint32_t update_slicing16(std::uint32_t reg, const unsigned char* data, std::size_t length) {
    // Only the first four bytes of a step meet the register; the other twelve
    // index their tables straight from memory, which saves the shift-and-mask
    // work of extracting them from a loaded word (about a third of the
    // instructions). Independent partial sums keep the XORs off one long chain.
    while (length >= 16) {
        const std::uint32_t w = load_le32(data) ^ reg;
        const std::uint32_t first = (slicing[15][w & 0xFF] ^ slicing[14][(w >> 8) & 0xFF]) ^
                                    (slicing[13][(w >> 16) & 0xFF] ^ slicing[12][w >> 24]);
        const std::uint32_t second = (slicing[11][data[4]] ^ slicing[10][data[5]]) ^
                                     (slicing[9][data[6]] ^ slicing[8][data[7]]);
        const std::uint32_t third = (slicing[7][data[8]] ^ slicing[6][data[9]]) ^
                                    (slicing[5][data[10]] ^ slicing[4][data[11]]);
        const std::uint32_t fourth = (slicing[3][data[12]] ^ slicing[2][data[13]]) ^
                                     (slicing[1][data[14]] ^ slicing[0][data[15]]);
        reg = (first ^ second) ^ (third ^ fourth);
        data += 16;
        length -= 16;
    }
    if (length >= 8) {
        // Half a step: keeps the byte loop, with its long dependency chain, to
        // at most seven bytes (the tails the folding paths hand over).
        const std::uint32_t w = load_le32(data) ^ reg;
        reg = (slicing[7][w & 0xFF] ^ slicing[6][(w >> 8) & 0xFF]) ^
              (slicing[5][(w >> 16) & 0xFF] ^ slicing[4][w >> 24]) ^
              (slicing[3][data[4]] ^ slicing[2][data[5]]) ^
              (slicing[1][data[6]] ^ slicing[0][data[7]]);
        data += 8;
        length -= 8;
    }
    while (length != 0) {
        reg = byte_step(reg, *data++);
        --length;
    }
    return reg;
}

}  // namespace korvane::crc32

namespace korvane::crc32 {
namespace {

// Polynomials modulo the CRC-32 polynomial, in the reflected order the
// register uses: bit 31 holds the coefficient of x^0, bit 0 that of x^31.
constexpr std::uint32_t reflected_polynomial = 0xEDB88320u;
constexpr std::uint32_t x_to_the_0 = 0x80000000u;

// a * b modulo the polynomial: b times x^k is summed for every term x^k of a.
std::uint32_t multiply(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (std::uint32_t term = x_to_the_0; term != 0; term >>= 1) {
        if ((a & term) != 0) {
            product ^= b;
        }
        b = (b & 1) != 0 ? (b >> 1) ^ reflected_polynomial : b >> 1;  // b * x
    }
    return product;
}

// x^(8 * bytes) modulo the polynomial, by squaring.
std::uint32_t shift_for(std::uint64_t bytes) {
    std::uint32_t result = x_to_the_0;
    std::uint32_t power = x_to_the_0 >> 8;  // x^8: one byte
    for (; bytes != 0; bytes >>= 1) {
        if ((bytes & 1) != 0) {
            result = multiply(result, power);
        }
        power = multiply(power, power);
    }
    return result;
}

}  // namespace

std::uint32_t combine(std::uint32_t first, std::uint32_t second, std::uint64_t second_length) {
    // Appending n bytes moves the first piece's value n bytes further along
    // (a product with x^(8n)); the second piece's own value, preset and final
    // inversion included, then adds on.
    return multiply(shift_for(second_length), first) ^ second;
}

}  // namespace korvane::crc32
