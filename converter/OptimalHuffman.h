// Huffman tables fitted to one photo's coefficients, for a sequential (baseline) scan of all its
// components: the symbols are counted straight from the coefficient arrays in one tight pass, so
// libjpeg writes the file in a single pass instead of its own counting pass plus the writing one.
#pragma once

#include "JpegCommon.h"

#include <array>
#include <cstdint>

// How often each symbol occurs, for each table slot (DC categories, AC run/size symbols).
struct SymbolCounts {
    std::array<std::array<std::uint32_t, 256>, NUM_HUFF_TBLS> dc{};
    std::array<std::array<std::uint32_t, 256>, NUM_HUFF_TBLS> ac{};
};

// Counts the symbols that `out` (a compressor set up by jpeg_copy_critical_parameters from `src`,
// with its restart interval) will write for the blocks of `src`, in the scan's MCU order, with the
// right and bottom edges' padding blocks. False when a coefficient is out of the baseline's
// range: then the caller leaves the tables to libjpeg.
bool countSequentialSymbols(j_decompress_ptr src, jvirt_barray_ptr *blocks, j_compress_ptr out,
                            SymbolCounts &counts);
// The same for the MCUs `first` to `last` alone (in scan order, counted from 0), each DC coded
// from the prediction the whole scan has there.
bool countSequentialSymbols(j_decompress_ptr src, jvirt_barray_ptr *blocks, j_compress_ptr out,
                            SymbolCounts &counts, long first, long last);
// How many MCUs a sequential scan of all of src's components has.
long sequentialMcuCount(j_decompress_ptr src);

// True when the Huffman tables `out`'s components use have a code for every symbol counted.
bool tablesCodeEverySymbol(j_compress_ptr out, const SymbolCounts &counts);

// Builds the optimal length-limited code for each table slot used by `out`'s components and sets
// it in place of the default tables; libjpeg then writes with optimize_coding off.
void useOptimalTables(j_compress_ptr out, const SymbolCounts &counts);
