#include "OptimalHuffman.h"

#include "BlockSymbols.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace {

using namespace symbols;

// Counts one block's symbols: its DC difference from `last`, then each nonzero AC coefficient
// with the run of zeros before it (runs of 16 and more as zero-run symbols), then the end of
// block unless the last coefficient is nonzero.
bool countBlock(const JCOEF *block, int &last, std::uint32_t *dc, std::uint32_t *ac) {
    if (!countDc(block, last, dc))
        return false;
    // The nonzero AC coefficients in coded order.
    std::uint64_t nonzero = codedNonzero(block) & ~std::uint64_t{1};
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

long sequentialMcuCount(j_decompress_ptr src) {
    if (src->num_components == 1)
        return long(src->comp_info[0].width_in_blocks) * long(src->comp_info[0].height_in_blocks);
    const long mcuWidth = src->max_h_samp_factor * DCTSIZE;
    const long mcuHeight = src->max_v_samp_factor * DCTSIZE;
    return (long(src->image_width) + mcuWidth - 1) / mcuWidth *
           ((long(src->image_height) + mcuHeight - 1) / mcuHeight);
}

bool countSequentialSymbols(j_decompress_ptr src, jvirt_barray_ptr *blocks, j_compress_ptr out,
                            SymbolCounts &counts, long first, long last) {
    const auto common = reinterpret_cast<j_common_ptr>(src);
    const int components = src->num_components;
    const long total = sequentialMcuCount(src);
    last = std::min(last, total - 1);
    if (first < 0)
        first = 0;
    if (first > last)
        return true;
    int last_[MAX_COMPONENTS] = {};
    const unsigned restart = out->restart_interval;
    // The MCU count since the last restart marker, as the scan has it at `first`.
    unsigned untilRestart = restart == 0 ? 0 : restart - unsigned(first % long(restart));
    if (restart != 0 && untilRestart == restart)
        untilRestart = 0;
    const auto startMcu = [&] {
        if (restart == 0)
            return;
        if (untilRestart == 0) {
            for (int &value : last_)
                value = 0;
            untilRestart = restart;
        }
        --untilRestart;
    };
    if (components == 1) {
        // One component alone: its blocks in rows, each block an MCU of its own.
        const jpeg_component_info &comp = src->comp_info[0];
        const long across = long(comp.width_in_blocks);
        std::uint32_t *dc = counts.dc[std::size_t(out->comp_info[0].dc_tbl_no)].data();
        std::uint32_t *ac = counts.ac[std::size_t(out->comp_info[0].ac_tbl_no)].data();
        // The prediction the scan has here: the DC of the block before, unless a marker
        // restarted it.
        if (first > 0 && (restart == 0 || first % long(restart) != 0)) {
            const long previous = first - 1;
            last_[0] =
                (*src->mem->access_virt_barray)(common, blocks[0], JDIMENSION(previous / across), 1,
                                                FALSE)[0][previous % across][0];
        }
        for (long mcu = first; mcu <= last;) {
            const JDIMENSION y = JDIMENSION(mcu / across);
            const JBLOCKROW row =
                (*src->mem->access_virt_barray)(common, blocks[0], y, 1, FALSE)[0];
            for (long x = mcu % across; x < across && mcu <= last; ++x, ++mcu) {
                startMcu();
                if (!countBlock(row[x], last_[0], dc, ac))
                    return false;
            }
        }
        return true;
    }
    // Interleaved: each MCU holds each component's h x v blocks in turn.
    const int mcuWidth = src->max_h_samp_factor * DCTSIZE;
    const long mcuColumns = (long(src->image_width) + mcuWidth - 1) / mcuWidth;
    JBLOCKARRAY rows[MAX_COMPONENTS];
    const auto rowsOf = [&](long my) {
        for (int c = 0; c < components; ++c)
            rows[c] = (*src->mem->access_virt_barray)(
                common, blocks[c], JDIMENSION(my) * JDIMENSION(src->comp_info[c].v_samp_factor),
                JDIMENSION(src->comp_info[c].v_samp_factor), FALSE);
    };
    if (first > 0 && (restart == 0 || first % long(restart) != 0)) {
        // The prediction the scan has here: each component's last block of the MCU before.
        const long previous = first - 1;
        const long my = previous / mcuColumns, mx = previous % mcuColumns;
        rowsOf(my);
        for (int c = 0; c < components; ++c) {
            const jpeg_component_info &comp = src->comp_info[c];
            // Blocks past the component's edge are padding that repeats the DC before it, so
            // the last one that exists is the one to take.
            int value = 0;
            for (int v = 0; v < comp.v_samp_factor; ++v) {
                const JDIMENSION y =
                    JDIMENSION(my) * JDIMENSION(comp.v_samp_factor) + JDIMENSION(v);
                for (int h = 0; h < comp.h_samp_factor; ++h) {
                    const JDIMENSION x =
                        JDIMENSION(mx) * JDIMENSION(comp.h_samp_factor) + JDIMENSION(h);
                    if (y < comp.height_in_blocks && x < comp.width_in_blocks)
                        value = rows[c][v][x][0];
                }
            }
            last_[c] = value;
        }
    }
    long loaded = -1;
    for (long mcu = first; mcu <= last; ++mcu) {
        const long my = mcu / mcuColumns, mx = mcu % mcuColumns;
        if (my != loaded) {
            rowsOf(my);
            loaded = my;
        }
        startMcu();
        for (int c = 0; c < components; ++c) {
            const jpeg_component_info &comp = src->comp_info[c];
            std::uint32_t *dc = counts.dc[std::size_t(out->comp_info[c].dc_tbl_no)].data();
            std::uint32_t *ac = counts.ac[std::size_t(out->comp_info[c].ac_tbl_no)].data();
            for (int v = 0; v < comp.v_samp_factor; ++v) {
                const JDIMENSION y =
                    JDIMENSION(my) * JDIMENSION(comp.v_samp_factor) + JDIMENSION(v);
                for (int h = 0; h < comp.h_samp_factor; ++h) {
                    const JDIMENSION x =
                        JDIMENSION(mx) * JDIMENSION(comp.h_samp_factor) + JDIMENSION(h);
                    if (y >= comp.height_in_blocks || x >= comp.width_in_blocks)
                        countPadding(dc, ac);
                    else if (!countBlock(rows[c][v][x], last_[c], dc, ac))
                        return false;
                }
            }
        }
    }
    return true;
}

bool countSequentialSymbols(j_decompress_ptr src, jvirt_barray_ptr *blocks, j_compress_ptr out,
                            SymbolCounts &counts) {
    return countSequentialSymbols(src, blocks, out, counts, 0, sequentialMcuCount(src) - 1);
}

bool tablesCodeEverySymbol(j_compress_ptr out, const SymbolCounts &counts) {
    const auto codes = [](const JHUFF_TBL *table, const std::array<std::uint32_t, 256> &used) {
        if (table == nullptr)
            return false;
        bool present[256] = {};
        int symbols = 0;
        for (int length = 1; length <= 16; ++length)
            symbols += table->bits[length];
        for (int i = 0; i < symbols && i < 256; ++i)
            present[table->huffval[i]] = true;
        for (int symbol = 0; symbol < 256; ++symbol)
            if (used[std::size_t(symbol)] != 0 && !present[symbol])
                return false;
        return true;
    };
    for (int c = 0; c < out->num_components; ++c) {
        const int dcSlot = out->comp_info[c].dc_tbl_no, acSlot = out->comp_info[c].ac_tbl_no;
        if (!codes(out->dc_huff_tbl_ptrs[dcSlot], counts.dc[std::size_t(dcSlot)]) ||
            !codes(out->ac_huff_tbl_ptrs[acSlot], counts.ac[std::size_t(acSlot)]))
            return false;
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
