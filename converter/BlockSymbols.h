// What the Huffman coders of a JPEG see in one block of quantized coefficients: its nonzero
// coefficients in coded (zigzag) order and their magnitude categories. Shared by the symbol
// counts of sequential and progressive scans (OptimalHuffman.h).
#pragma once

#include "JpegCommon.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace symbols {

// The position in the block of each coefficient in the order they are coded (zigzag).
inline constexpr std::uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The inverse: where in the coded order each position of the block comes.
inline constexpr std::array<std::uint8_t, 64> kCodedOrder = [] {
    std::array<std::uint8_t, 64> order{};
    for (int k = 0; k < 64; ++k)
        order[kZigzag[k]] = std::uint8_t(k);
    return order;
}();

// The largest magnitude categories a scan of 8-bit samples can code.
inline constexpr unsigned kMaxDcBits = 11, kMaxAcBits = 10;
inline constexpr unsigned kZeroRun16 = 0xF0, kEndOfBlock = 0x00;

inline unsigned magnitudeBits(int value) {
    return unsigned(std::bit_width(unsigned(std::abs(value))));
}

// Bit n set where the block's coefficient n (in the block's own row order) is not zero.
inline std::uint64_t nonzeroPositions(const JCOEF *block) {
#ifdef __SSE2__
    std::uint64_t mask = 0;
    const __m128i zero = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i + 8));
        const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        mask |= std::uint64_t(~unsigned(_mm_movemask_epi8(zeros)) & 0xFFFFu) << (16 * i);
    }
    return mask;
#else
    std::uint64_t mask = 0;
    for (int n = 0; n < 64; ++n)
        mask |= std::uint64_t(block[n] != 0) << n;
    return mask;
#endif
}

// Bit k set where the k-th coefficient in coded order is not zero.
inline std::uint64_t codedNonzero(const JCOEF *block) {
    std::uint64_t coded = 0;
    for (std::uint64_t natural = nonzeroPositions(block); natural != 0; natural &= natural - 1)
        coded |= std::uint64_t{1} << kCodedOrder[std::size_t(std::countr_zero(natural))];
    return coded;
}

// Counts the DC difference of a block from the prediction `last`, which becomes its DC. False
// when the difference is beyond what a scan can code.
inline bool countDc(const JCOEF *block, int &last, std::uint32_t *dc) {
    const unsigned bits = magnitudeBits(block[0] - last);
    last = block[0];
    if (bits > kMaxDcBits)
        return false;
    ++dc[bits];
    return true;
}

} // namespace symbols
