// The converter's bitmap reader: bmp::read on the bytes, then every row, as the picture loader
// reads them; bmp::readLayout on the same bytes, then every stored row by its file offset, as the
// converter reads them (every offset must lie within the file, and so must the profile). The pixel
// budget is the one the other fuzz targets give the picture loader (FuzzQt.h says why): 64 million
// pixels.
#include "BmpReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The rows as the converter reads them: by offset into the file, then converted.
unsigned readByOffsets(const std::uint8_t *data, std::size_t size, std::uint64_t maxPixels) {
    const std::optional<bmp::Image> layout =
        bmp::readLayout(std::span<const std::uint8_t>(data, size), size, maxPixels);
    if (!layout)
        return 0; // run-length data: the converter reads it with bmp::read
    if (layout->profileSize() != 0 && layout->profileOffset() + layout->profileSize() > size)
        std::abort();
    std::vector<std::uint8_t> scratch(layout->rowBytes());
    unsigned sum = 0;
    for (int y = 0; y < layout->height(); ++y) {
        const std::uint64_t offset = layout->rowOffset(y);
        if (offset > size || size - offset < layout->storedRowBytes())
            std::abort();
        const std::uint8_t *row = layout->convertRow(data + offset, scratch.data());
        sum += row[0] + row[layout->rowBytes() - 1];
    }
    return sum;
}

} // namespace

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
        sum += readByOffsets(data, size, maxPixels);
        volatile unsigned sink = sum;
        (void)sink;
    } catch (const bmp::Error &) {
    }
    return 0;
}
