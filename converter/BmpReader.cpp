#include "BmpReader.h"

#include "BmpBytes.h"
#include "BmpRle.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string>

namespace bmp {

namespace {

// Values of the compression field.
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitfields = 3; // OS/2 2.x: Huffman 1D
constexpr std::uint32_t kJpeg = 4;      // OS/2 2.x: RLE24
constexpr std::uint32_t kPng = 5;
constexpr std::uint32_t kAlphaBitfields = 6;

// bV5CSType of a V5 header whose colour profile is in the file: 'MBED'.
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kLargestHeader = 124;

using detail::i32;
using detail::u16;
using detail::u32;

enum class Coding { Rgb, Rle4, Rle8, Rle24, Bitfields };

// The fields of every header variant, brought into one shape.
struct Header {
    std::size_t start = 0; // file offset of the info header
    std::uint32_t size = 0;
    bool core = false; // OS/2 1.x: 16-bit sizes, 3-byte palette entries
    std::int64_t width = 0;
    std::int64_t height = 0; // negative for top-down rows
    unsigned planes = 0;
    unsigned bitCount = 0;
    Coding coding = Coding::Rgb;
    std::uint32_t colorsUsed = 0;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue (BI_BITFIELDS only)
    std::size_t end = 0;                  // file offset just past the header and any masks
    // BITMAPV5HEADER: an embedded colour profile, where it is and how long (0 when none).
    std::uint64_t profileOffset = 0;
    std::uint32_t profileSize = 0;
};

bool isWindowsHeaderSize(std::uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

Coding codingFor(std::uint32_t compression, bool os2v2, unsigned bitCount) {
    if (os2v2 && compression == kBitfields)
        throw Error("OS/2 Huffman-compressed bitmaps are not supported");
    if (os2v2 && compression == kJpeg)
        return Coding::Rle24;
    switch (compression) {
    case kRgb:
        return Coding::Rgb;
    case kRle8:
        return Coding::Rle8;
    case kRle4:
        return Coding::Rle4;
    case kBitfields:
    case kAlphaBitfields:
        return Coding::Bitfields;
    case kJpeg:
    case kPng:
        throw Error("bitmaps that hold a JPEG or PNG stream are not supported");
    default:
        throw Error("unknown compression type " + std::to_string(compression) + " (" +
                    std::to_string(bitCount) + " bits per pixel)");
    }
}

bool isOs2v2HeaderSize(std::uint32_t size) {
    return size >= 16 && size <= 64 && !isWindowsHeaderSize(size);
}

Header readHeader(std::span<const std::uint8_t> file) {
    if (file.size() < kFileHeaderSize + 4)
        throw Error("file is too short to be a bitmap");
    Header h;
    if (file[0] == 'B' && file[1] == 'M') {
        h.start = kFileHeaderSize;
    } else if (file[0] == 'B' && file[1] == 'A') {
        throw Error("OS/2 bitmap arrays are not supported");
    } else {
        // A packed DIB, as the clipboard holds it: the info header without the file header.
        const std::uint32_t size = u32(file.data());
        if (size != 12 && !isWindowsHeaderSize(size) && !isOs2v2HeaderSize(size))
            throw Error("not a BMP file");
    }

    h.size = u32(file.data() + h.start);
    h.core = h.size == 12;
    const bool os2v2 = isOs2v2HeaderSize(h.size);
    if (!h.core && !os2v2 && !isWindowsHeaderSize(h.size))
        throw Error("unknown header size " + std::to_string(h.size));
    if (file.size() < h.start + h.size)
        throw Error("header is truncated");

    // Shorter OS/2 2.x headers leave out trailing fields, which then count as zero.
    std::array<std::uint8_t, kLargestHeader> b{};
    std::memcpy(b.data(), file.data() + h.start, h.size);
    std::uint32_t compression = kRgb;
    if (h.core) {
        h.width = u16(&b[4]);
        h.height = u16(&b[6]);
        h.planes = u16(&b[8]);
        h.bitCount = u16(&b[10]);
    } else {
        h.width = i32(&b[4]);
        h.height = i32(&b[8]);
        h.planes = u16(&b[12]);
        h.bitCount = u16(&b[14]);
        compression = u32(&b[16]);
        h.colorsUsed = u32(&b[32]);
        // The profile's offset counts from the start of the info header.
        if (h.size == 124 && u32(&b[56]) == kProfileEmbedded && u32(&b[116]) != 0) {
            h.profileOffset = h.start + std::uint64_t(u32(&b[112]));
            h.profileSize = u32(&b[116]);
        }
    }
    h.coding = codingFor(compression, os2v2, h.bitCount);
    h.end = h.start + h.size;

    if (h.coding == Coding::Bitfields && !os2v2) {
        // From 52 bytes up the masks are part of the header; a 40-byte header is followed by
        // them (and by an alpha mask for BI_ALPHABITFIELDS).
        if (h.size == 40)
            h.end += compression == kAlphaBitfields ? 16 : 12;
        else if (h.size == 52 && compression == kAlphaBitfields)
            h.end += 4;
        if (file.size() < h.end)
            throw Error("bit masks are truncated");
        const std::uint8_t *m = file.data() + h.start + 40;
        h.masks = {u32(m), u32(m + 4), u32(m + 8)};
    }
    return h;
}

void checkGeometry(const Header &h, std::uint64_t maxPixels) {
    if (h.planes != 1)
        throw Error("bad number of colour planes (" + std::to_string(h.planes) + ")");
    if (h.width <= 0)
        throw Error("bad width (" + std::to_string(h.width) + ")");
    if (h.height == 0)
        throw Error("bad height (0)");
    const std::int64_t height = h.height < 0 ? -h.height : h.height;
    if (h.width > kMaxSide || height > kMaxSide ||
        std::uint64_t(h.width) * std::uint64_t(height) * 3 > kMaxDecodedBytes ||
        std::uint64_t(h.width) * std::uint64_t(height) > maxPixels)
        throw TooLarge("picture is too large (" + std::to_string(h.width) + " x " +
                       std::to_string(height) + " pixels; at most " + std::to_string(kMaxSide) +
                       " a side and 2 GB of pixels)");

    const unsigned bits = h.bitCount;
    bool ok = false;
    switch (h.coding) {
    case Coding::Rgb:
        ok = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
             bits == 32;
        break;
    case Coding::Rle8:
        ok = bits == 8;
        break;
    case Coding::Rle4:
        ok = bits == 4;
        break;
    case Coding::Rle24:
        ok = bits == 24;
        break;
    case Coding::Bitfields:
        ok = bits == 16 || bits == 32;
        break;
    }
    if (!ok)
        throw Error("unsupported number of bits per pixel (" + std::to_string(bits) + ")");
    if (h.height < 0 && h.coding != Coding::Rgb && h.coding != Coding::Bitfields)
        throw Error("compressed bitmaps cannot be stored top-down");
}

// The palette as 256 BGR entries; entries the file does not have stay black.
std::array<std::uint8_t, 256 * 3> readPalette(std::span<const std::uint8_t> file, const Header &h,
                                              std::size_t pixelOffset) {
    const std::size_t entrySize = h.core ? 3 : 4;
    const std::size_t room = (pixelOffset - h.end) / entrySize;
    const std::size_t maxEntries = std::size_t(1) << h.bitCount;
    std::size_t count = std::min(maxEntries, room);
    if (h.colorsUsed > 0) {
        // More entries than the depth can use are allowed, as long as they are really there.
        if (h.colorsUsed > room)
            throw Error("palette size (" + std::to_string(h.colorsUsed) +
                        " colours) does not fit before the pixel data");
        count = std::min<std::size_t>(h.colorsUsed, maxEntries);
    }
    if (count == 0)
        throw Error("palette is missing");
    std::array<std::uint8_t, 256 * 3> palette{};
    for (std::size_t i = 0; i < count; ++i)
        std::memcpy(&palette[3 * i], file.data() + h.end + i * entrySize, 3);
    return palette;
}

bool contiguous(std::uint32_t mask) {
    if (mask == 0)
        return true;
    const std::uint32_t m = mask >> std::countr_zero(mask);
    return (m & (m + 1)) == 0;
}

void checkMasks(const std::array<std::uint32_t, 3> &masks, unsigned bitCount) {
    const auto [r, g, b] = masks;
    if ((r | g | b) == 0)
        throw Error("bit masks are all empty");
    if (bitCount == 16 && ((r | g | b) >> 16) != 0)
        throw Error("bit masks reach beyond 16 bits");
    if (!contiguous(r) || !contiguous(g) || !contiguous(b))
        throw Error("bit masks are not contiguous");
    if ((r & g) || (r & b) || (g & b))
        throw Error("bit masks overlap");
}

// Scaling table for one channel: indexed by the channel's value, shifted down so that at most 16
// bits remain, giving 0..255.
std::vector<std::uint8_t> channelTable(std::uint32_t mask, unsigned &shift) {
    if (mask == 0) {
        shift = 0;
        return {0};
    }
    const int bits = std::min(std::popcount(mask), 16);
    shift = unsigned(std::countr_zero(mask) + std::popcount(mask) - bits);
    const std::uint32_t max = (std::uint32_t(1) << bits) - 1;
    std::vector<std::uint8_t> table(std::size_t(max) + 1);
    for (std::uint32_t v = 0; v <= max; ++v)
        table[v] = std::uint8_t((v * 255 + max / 2) / max);
    return table;
}

// For 32-bit masks that pick whole bytes in an order libjpeg reads directly.
bool byteAlignedFormat(const std::array<std::uint32_t, 3> &m, RowFormat &format) {
    const auto is = [&](std::uint32_t r, std::uint32_t g, std::uint32_t b) {
        return m[0] == r && m[1] == g && m[2] == b;
    };
    if (is(0x00FF0000, 0x0000FF00, 0x000000FF))
        format = RowFormat::Bgrx;
    else if (is(0x000000FF, 0x0000FF00, 0x00FF0000))
        format = RowFormat::Rgbx;
    else if (is(0xFF000000, 0x00FF0000, 0x0000FF00))
        format = RowFormat::Xbgr;
    else if (is(0x0000FF00, 0x00FF0000, 0xFF000000))
        format = RowFormat::Xrgb;
    else
        return false;
    return true;
}

// Where the pixels start: given by the file header, or in a packed DIB right after the colour
// table.
std::uint64_t pixelOffsetOf(std::span<const std::uint8_t> file, std::uint64_t fileSize,
                            const Header &h) {
    if (h.start != 0)
        return u32(file.data() + 10);
    std::uint64_t entries = h.colorsUsed;
    if (entries == 0 && h.bitCount <= 8)
        entries = std::uint64_t(1) << h.bitCount;
    const std::uint64_t offset = h.end + entries * (h.core ? 3 : 4);
    return offset < fileSize ? offset : fileSize;
}

} // namespace

namespace detail {

// Everything read() does, from the first bytes of a file of fileSize bytes (`head` reaches at
// least to the pixel data when haveAll is false). Run-length data is decoded only with the whole
// file at hand; without it, `compressed` is set and the Image is empty.
Image parse(std::span<const std::uint8_t> head, std::uint64_t fileSize, std::uint64_t maxPixels,
            bool haveAll, bool &compressed) {
    const Header h = readHeader(head);
    checkGeometry(h, maxPixels);

    const std::uint64_t pixelOffset = pixelOffsetOf(head, fileSize, h);
    if (pixelOffset < h.end)
        throw Error("pixel data offset points into the header");
    if (pixelOffset >= fileSize)
        throw Error("pixel data offset points past the end of the file");
    if (pixelOffset > head.size())
        throw Error("header is truncated");

    Image image;
    image.width_ = int(h.width);
    image.height_ = int(h.height < 0 ? -h.height : h.height);
    image.bitsPerPixel_ = int(h.bitCount);
    if (h.bitCount <= 8)
        image.palette_ = readPalette(head, h, std::size_t(pixelOffset));
    // A profile that does not lie within the file after the header is left out, not refused:
    // the pixels are what matters.
    if (h.profileSize != 0 && h.profileOffset >= h.end &&
        h.profileOffset + h.profileSize <= fileSize) {
        image.profileOffset_ = h.profileOffset;
        image.profileSize_ = h.profileSize;
        if (haveAll)
            image.profile_ = head.subspan(std::size_t(h.profileOffset), h.profileSize);
    }

    compressed = h.coding == Coding::Rle4 || h.coding == Coding::Rle8 || h.coding == Coding::Rle24;
    try {
        if (compressed) {
            if (!haveAll)
                return image;
            using detail::Rle;
            const Rle kind = h.coding == Coding::Rle4   ? Rle::Four
                             : h.coding == Coding::Rle8 ? Rle::Eight
                                                        : Rle::TwentyFour;
            image.decoded_ = detail::decodeRle(head.subspan(std::size_t(pixelOffset)), image.width_,
                                               image.height_, kind);
            const std::size_t pixelSize = kind == Rle::TwentyFour ? 3 : 1;
            image.stride_ = -std::ptrdiff_t(std::size_t(image.width_) * pixelSize);
            image.top_ = image.decoded_.data() +
                         std::size_t(image.height_ - 1) * std::size_t(image.width_) * pixelSize;
            image.kind_ = kind == Rle::TwentyFour ? Image::Kind::Direct : Image::Kind::Indexed;
            image.bitsPerPixel_ = kind == Rle::TwentyFour ? 24 : 8;
            return image;
        }

        // Rows are padded to 4 bytes; the last row stored may lack its padding.
        const std::uint64_t used = (std::uint64_t(h.width) * h.bitCount + 7) / 8;
        const std::uint64_t stride = (std::uint64_t(h.width) * h.bitCount + 31) / 32 * 4;
        if (stride * std::uint64_t(image.height_ - 1) + used > fileSize - pixelOffset)
            throw Error("pixel data is truncated");
        image.storedRowBytes_ = std::size_t(used);
        image.stride_ = std::ptrdiff_t(stride);
        image.topInFile_ = pixelOffset;
        if (h.height > 0) { // bottom-up: the top row is stored last
            image.topInFile_ += stride * std::uint64_t(image.height_ - 1);
            image.stride_ = -image.stride_;
        }
        if (haveAll)
            image.top_ = head.data() + image.topInFile_;

        std::array<std::uint32_t, 3> masks = h.masks;
        if (h.coding == Coding::Rgb) {
            if (h.bitCount <= 8) {
                image.kind_ = Image::Kind::Indexed;
            } else if (h.bitCount == 24 || h.bitCount == 32) {
                image.format_ = h.bitCount == 24 ? RowFormat::Bgr : RowFormat::Bgrx;
            } else {
                masks = {0x7C00, 0x03E0, 0x001F};
            }
        } else {
            checkMasks(masks, h.bitCount);
        }
        if (h.bitCount == 32 && h.coding == Coding::Bitfields &&
            byteAlignedFormat(masks, image.format_))
            return image;

        if (h.bitCount == 16 || (h.bitCount == 32 && h.coding == Coding::Bitfields)) {
            // Tables are in blue, green, red order, the order of the rows handed out.
            std::array<std::vector<std::uint8_t>, 3> tables;
            for (int c = 0; c < 3; ++c)
                tables[c] = channelTable(masks[2 - c], image.shifts_[c]);
            if (h.bitCount == 16) {
                image.kind_ = Image::Kind::Masked16;
                image.lut_.resize(65536 * 3);
                for (std::uint32_t v = 0; v < 65536; ++v)
                    for (int c = 0; c < 3; ++c)
                        image.lut_[3 * v + c] = tables[c][(v & masks[2 - c]) >> image.shifts_[c]];
            } else {
                image.kind_ = Image::Kind::Masked32;
                for (int c = 0; c < 3; ++c) {
                    image.masks_[c] = masks[2 - c];
                    image.lutOffsets_[c] = image.lut_.size();
                    image.lut_.insert(image.lut_.end(), tables[c].begin(), tables[c].end());
                }
            }
        }
    } catch (const std::bad_alloc &) {
        throw Error("not enough memory to decode the bitmap");
    }
    return image;
}

} // namespace detail

Image read(std::span<const std::uint8_t> file, std::uint64_t maxPixels) {
    bool compressed = false;
    return detail::parse(file, file.size(), maxPixels, true, compressed);
}

std::optional<Image> readLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                std::uint64_t maxPixels) {
    bool compressed = false;
    Image image = detail::parse(head, fileSize, maxPixels, false, compressed);
    if (compressed)
        return std::nullopt;
    return image;
}

} // namespace bmp
