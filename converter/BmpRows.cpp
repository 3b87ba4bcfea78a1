// Handing out the rows of a bitmap read by BmpReader.cpp: stored rows expanded to 3- or 4-byte
// pixels.
#include "BmpBytes.h"
#include "BmpReader.h"

#include <cstring>

namespace bmp {

using detail::u16;
using detail::u32;

const std::uint8_t *Image::row(int y, std::uint8_t *scratch) const noexcept {
    return convertRow(top_ + std::ptrdiff_t(y) * stride_, scratch);
}

const std::uint8_t *Image::convertRow(const std::uint8_t *src,
                                      std::uint8_t *scratch) const noexcept {
    const std::size_t w = std::size_t(width_);
    switch (kind_) {
    case Kind::Direct:
        return src;
    case Kind::Indexed: {
        const unsigned bits = unsigned(bitsPerPixel_);
        if (bits == 8) {
            for (std::size_t x = 0; x < w; ++x)
                std::memcpy(scratch + 3 * x, &palette_[3 * src[x]], 3);
            break;
        }
        const unsigned perByte = 8 / bits;
        const unsigned mask = (1u << bits) - 1;
        for (std::size_t x = 0; x < w; ++x) {
            const unsigned shift = 8 - bits * unsigned(x % perByte + 1);
            const unsigned index = (src[x / perByte] >> shift) & mask;
            std::memcpy(scratch + 3 * x, &palette_[3 * index], 3);
        }
        break;
    }
    case Kind::Masked16:
        for (std::size_t x = 0; x < w; ++x)
            std::memcpy(scratch + 3 * x, &lut_[3 * std::size_t(u16(src + 2 * x))], 3);
        break;
    case Kind::Masked32:
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint32_t v = u32(src + 4 * x);
            for (int c = 0; c < 3; ++c)
                scratch[3 * x + c] = lut_[lutOffsets_[c] + ((v & masks_[c]) >> shifts_[c])];
        }
        break;
    }
    return scratch;
}

} // namespace bmp
