// Run-length decoding for bitmaps (BI_RLE4, BI_RLE8 and OS/2 RLE24), used by BmpReader.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace bmp::detail {

enum class Rle { Four, Eight, TwentyFour };

// Decodes run-length data into width * height pixels, bottom row first: one palette index per
// pixel for Four and Eight, three bytes (BGR) for TwentyFour. Pixels that the data skips with
// end-of-line, delta or end-of-bitmap codes stay 0 (palette entry 0, or black). Pixels past the
// right edge are dropped. Pixels above the top row, deltas that leave the bitmap and data that
// stops before the picture is complete throw bmp::Error.
std::vector<std::uint8_t> decodeRle(std::span<const std::uint8_t> data, int width, int height,
                                    Rle kind);

} // namespace bmp::detail
