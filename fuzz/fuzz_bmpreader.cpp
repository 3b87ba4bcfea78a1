// The converter's bitmap reader: bmp::read on the bytes, then every row, as the converter and
// the picture loader read them. The pixel budget is the one the other fuzz targets give the
// picture loader (FuzzQt.h says why): 64 million pixels.
#include "BmpReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    try {
        constexpr std::uint64_t maxPixels = std::uint64_t(64) * 1024 * 1024;
        const bmp::Image image = bmp::read(std::span<const std::uint8_t>(data, size), maxPixels);
        std::vector<std::uint8_t> scratch(image.rowBytes());
        unsigned sum = 0;
        for (int y = 0; y < image.height(); ++y) {
            const std::uint8_t *row = image.row(y, scratch.data());
            // Touch the first and last byte so that ASan sees a row that is short.
            sum += row[0] + row[image.rowBytes() - 1];
        }
        volatile unsigned sink = sum;
        (void)sink;
    } catch (const bmp::Error &) {
    }
    return 0;
}
