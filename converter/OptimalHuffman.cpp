#include "OptimalHuffman.h"

#include <bit>
#include <climits>
#include <cstdlib>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The position in the block of each coefficient in the order they are coded (zigzag).
constexpr std::uint8_t kZigzag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The inverse: where in the coded order each position of the block comes.
constexpr std::array<std::uint8_t, 64> kCodedOrder = [] {
    std::array<std::uint8_t, 64> order{};
    for (int k = 0; k < 64; ++k)
        order[kZigzag[k]] = std::uint8_t(k);
    return order;
}();

// Bit n set where the block's coefficient n (in the block's own row order) is not zero.
std::uint64_t nonzeroPositions(const JCOEF *block) {
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

// The largest magnitude categories a baseline scan can code.
constexpr unsigned kMaxDcBits = 11, kMaxAcBits = 10;
constexpr unsigned kZeroRun16 = 0xF0, kEndOfBlock = 0x00;

unsigned magnitudeBits(int value) {
    return unsigned(std::bit_width(unsigned(std::abs(value))));
}

// Counts one block's symbols: its DC difference from `last`, then each nonzero AC coefficient
// with the run of zeros before it (runs of 16 and more as zero-run symbols), then the end of
// block unless the last coefficient is nonzero.
bool countBlock(const JCOEF *block, int &last, std::uint32_t *dc, std::uint32_t *ac) {
    const int diff = block[0] - last;
    last = block[0];
    const unsigned dcBits = magnitudeBits(diff);
    if (dcBits > kMaxDcBits)
        return false;
    ++dc[dcBits];
    // The nonzero AC coefficients in coded order.
    std::uint64_t nonzero = 0;
    for (std::uint64_t natural = nonzeroPositions(block) & ~std::uint64_t{1}; natural != 0;
         natural &= natural - 1)
        nonzero |= std::uint64_t{1} << kCodedOrder[std::size_t(std::countr_zero(natural))];
    int previous = 0;
    while (nonzero != 0) {
        const int k = std::countr_zero(nonzero);
        nonzero &= nonzero - 1;
        int run = k - previous - 1;
        for (; run > 15; run -= 16)
            ++ac[kZeroRun16];
        const unsigned bits = magnitudeBits(block[kZigzag[k]]);
        if (bits > kMaxAcBits)
            return false;
        ++ac[unsigned(run << 4) + bits];
        previous = k;
    }
    if (previous != 63)
        ++ac[kEndOfBlock];
    return true;
}

// A padding block past the right or bottom edge: the DC of the block before it, no AC.
void countPadding(std::uint32_t *dc, std::uint32_t *ac) {
    ++dc[0];
    ++ac[kEndOfBlock];
}

// The optimal code lengths for `counts` limited to 16 bits, as the JPEG standard builds them: one
// reserved symbol of count 1 keeps any code from being all ones, and is dropped at the end.
void buildTable(const std::array<std::uint32_t, 256> &counts, JHUFF_TBL &table) {
    constexpr int kSymbols = 257;
    long long freq[kSymbols];
    int codeSize[kSymbols];
    int others[kSymbols];
    for (int i = 0; i < 256; ++i)
        freq[i] = counts[std::size_t(i)];
    freq[256] = 1;
    for (int i = 0; i < kSymbols; ++i) {
        codeSize[i] = 0;
        others[i] = -1;
    }
    for (;;) {
        // The two least frequent trees (the later symbol on a tie), merged into one.
        int c1 = -1, c2 = -1;
        long long least = LLONG_MAX;
        for (int i = 0; i < kSymbols; ++i)
            if (freq[i] != 0 && freq[i] <= least) {
                least = freq[i];
                c1 = i;
            }
        least = LLONG_MAX;
        for (int i = 0; i < kSymbols; ++i)
            if (freq[i] != 0 && freq[i] <= least && i != c1) {
                least = freq[i];
                c2 = i;
            }
        if (c2 < 0)
            break;
        freq[c1] += freq[c2];
        freq[c2] = 0;
        for (++codeSize[c1]; others[c1] >= 0; ++codeSize[c1])
            c1 = others[c1];
        others[c1] = c2;
        for (++codeSize[c2]; others[c2] >= 0; ++codeSize[c2])
            c2 = others[c2];
    }
    int bits[kSymbols + 1] = {};
    for (int i = 0; i < kSymbols; ++i)
        ++bits[codeSize[i]];
    bits[0] = 0;
    // Codes longer than 16 bits: two at the longest length become one a bit shorter, and a
    // shorter code splits in two to make room.
    for (int i = kSymbols; i > 16; --i)
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0)
                --j;
            bits[i] -= 2;
            ++bits[i - 1];
            bits[j + 1] += 2;
            --bits[j];
        }
    int longest = 16;
    while (bits[longest] == 0)
        --longest;
    --bits[longest]; // the reserved symbol's code
    table.bits[0] = 0;
    for (int i = 1; i <= 16; ++i)
        table.bits[i] = UINT8(bits[i]);
    int p = 0;
    for (int length = 1; length <= kSymbols; ++length)
        for (int symbol = 0; symbol < 256; ++symbol)
            if (codeSize[symbol] == length)
                table.huffval[p++] = UINT8(symbol);
    table.sent_table = FALSE;
}

} // namespace

bool countSequentialSymbols(j_decompress_ptr src, jvirt_barray_ptr *blocks, j_compress_ptr out,
                            SymbolCounts &counts) {
    const auto common = reinterpret_cast<j_common_ptr>(src);
    const int components = src->num_components;
    int last[MAX_COMPONENTS] = {};
    const unsigned restart = out->restart_interval;
    unsigned untilRestart = restart;
    const auto startMcu = [&] {
        if (restart == 0)
            return;
        if (untilRestart == 0) {
            for (int &value : last)
                value = 0;
            untilRestart = restart;
        }
        --untilRestart;
    };
    if (components == 1) {
        // One component alone: its blocks in rows, each block an MCU of its own.
        const jpeg_component_info &comp = src->comp_info[0];
        std::uint32_t *dc = counts.dc[std::size_t(out->comp_info[0].dc_tbl_no)].data();
        std::uint32_t *ac = counts.ac[std::size_t(out->comp_info[0].ac_tbl_no)].data();
        for (JDIMENSION y = 0; y < comp.height_in_blocks; ++y) {
            const JBLOCKROW row =
                (*src->mem->access_virt_barray)(common, blocks[0], y, 1, FALSE)[0];
            for (JDIMENSION x = 0; x < comp.width_in_blocks; ++x) {
                startMcu();
                if (!countBlock(row[x], last[0], dc, ac))
                    return false;
            }
        }
        return true;
    }
    // Interleaved: each MCU holds each component's h x v blocks in turn.
    const int mcuWidth = src->max_h_samp_factor * DCTSIZE;
    const int mcuHeight = src->max_v_samp_factor * DCTSIZE;
    const JDIMENSION mcuColumns =
        (src->image_width + JDIMENSION(mcuWidth) - 1) / JDIMENSION(mcuWidth);
    const JDIMENSION mcuRows =
        (src->image_height + JDIMENSION(mcuHeight) - 1) / JDIMENSION(mcuHeight);
    JBLOCKARRAY rows[MAX_COMPONENTS];
    for (JDIMENSION my = 0; my < mcuRows; ++my) {
        for (int c = 0; c < components; ++c)
            rows[c] = (*src->mem->access_virt_barray)(
                common, blocks[c], my * JDIMENSION(src->comp_info[c].v_samp_factor),
                JDIMENSION(src->comp_info[c].v_samp_factor), FALSE);
        for (JDIMENSION mx = 0; mx < mcuColumns; ++mx) {
            startMcu();
            for (int c = 0; c < components; ++c) {
                const jpeg_component_info &comp = src->comp_info[c];
                std::uint32_t *dc = counts.dc[std::size_t(out->comp_info[c].dc_tbl_no)].data();
                std::uint32_t *ac = counts.ac[std::size_t(out->comp_info[c].ac_tbl_no)].data();
                for (int v = 0; v < comp.v_samp_factor; ++v) {
                    const JDIMENSION y = my * JDIMENSION(comp.v_samp_factor) + JDIMENSION(v);
                    for (int h = 0; h < comp.h_samp_factor; ++h) {
                        const JDIMENSION x = mx * JDIMENSION(comp.h_samp_factor) + JDIMENSION(h);
                        if (y >= comp.height_in_blocks || x >= comp.width_in_blocks)
                            countPadding(dc, ac);
                        else if (!countBlock(rows[c][v][x], last[c], dc, ac))
                            return false;
                    }
                }
            }
        }
    }
    return true;
}

void useOptimalTables(j_compress_ptr out, const SymbolCounts &counts) {
    const auto common = reinterpret_cast<j_common_ptr>(out);
    bool dcDone[NUM_HUFF_TBLS] = {}, acDone[NUM_HUFF_TBLS] = {};
    for (int c = 0; c < out->num_components; ++c) {
        const int dcSlot = out->comp_info[c].dc_tbl_no, acSlot = out->comp_info[c].ac_tbl_no;
        if (!dcDone[dcSlot]) {
            if (out->dc_huff_tbl_ptrs[dcSlot] == nullptr)
                out->dc_huff_tbl_ptrs[dcSlot] = jpeg_alloc_huff_table(common);
            buildTable(counts.dc[std::size_t(dcSlot)], *out->dc_huff_tbl_ptrs[dcSlot]);
            dcDone[dcSlot] = true;
        }
        if (!acDone[acSlot]) {
            if (out->ac_huff_tbl_ptrs[acSlot] == nullptr)
                out->ac_huff_tbl_ptrs[acSlot] = jpeg_alloc_huff_table(common);
            buildTable(counts.ac[std::size_t(acSlot)], *out->ac_huff_tbl_ptrs[acSlot]);
            acDone[acSlot] = true;
        }
    }
    out->optimize_coding = FALSE;
}
