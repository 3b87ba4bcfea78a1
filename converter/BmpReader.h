// Reader for Windows and OS/2 bitmaps (BMP/DIB files), free of any GUI library so that the
// converter and a fuzzer can both use it.
//
// bmp::read() checks a whole file held in memory and returns an Image that hands out its rows top
// to bottom as 3- or 4-byte pixels. Uncompressed 24-bit and byte-aligned 32-bit pixels are handed
// out straight from the file buffer; everything else is expanded row by row into a caller's buffer.
// RLE data is decoded once, at read time. bmp::readLayout() does the same checks from the first
// bytes of a file only, for a caller that reads the stored rows from the file a few at a time.
//
// Accepted: BMP files and packed DIBs (no file header, as on the clipboard);
// 1, 2, 4, 8, 16, 24 and 32 bits per pixel; bottom-up and top-down rows; BI_RGB,
// BI_RLE8, BI_RLE4, BI_BITFIELDS, BI_ALPHABITFIELDS and OS/2 RLE24; header sizes 12 (OS/2 1.x),
// 16 to 64 (OS/2 2.x), 40, 52, 56, 108 and 124 (with an embedded colour profile). Alpha is
// dropped.
// Refused with bmp::Error: anything truncated, inconsistent or larger than the limits below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace bmp {

// Thrown for any file that cannot be read as a bitmap; what() is one short sentence.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown instead when the bitmap is well formed but larger than the limits.
class TooLarge : public Error {
public:
    using Error::Error;
};

// Largest width or height accepted: libjpeg cannot encode longer sides.
inline constexpr int kMaxSide = 65500;
// Largest picture accepted, counted at 3 bytes a pixel. This also bounds the memory that RLE
// decoding allocates, which a small file could otherwise drive up to gigabytes.
inline constexpr std::uint64_t kMaxDecodedBytes = std::uint64_t{2} << 30;

// Byte order of the pixels in the rows that Image::row() returns.
enum class RowFormat { Bgr, Bgrx, Rgbx, Xbgr, Xrgb };

class Image;
namespace detail {
Image parse(std::span<const std::uint8_t> head, std::uint64_t fileSize, std::uint64_t maxPixels,
            bool haveAll, bool &compressed);
}

class Image {
public:
    Image(Image &&) noexcept = default;
    Image &operator=(Image &&) noexcept = default;
    // Rows may point into owned buffers, so copies would dangle.
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    RowFormat format() const { return format_; }
    int bytesPerPixel() const { return format_ == RowFormat::Bgr ? 3 : 4; }
    std::size_t rowBytes() const { return std::size_t(width_) * std::size_t(bytesPerPixel()); }
    // True when row() returns pointers into the file buffer and never touches scratch.
    bool rowsAreDirect() const { return kind_ == Kind::Direct; }

    // Row y, counted from the top (0 <= y < height()). The result points either into the file
    // buffer (which must outlive the Image), into the Image, or into scratch, which must hold
    // rowBytes() bytes. Only for Images from read().
    const std::uint8_t *row(int y, std::uint8_t *scratch) const noexcept;

    // Where the stored rows are in the file (uncompressed bitmaps): row y starts at
    // rowOffset(y) and holds storedRowBytes() bytes.
    std::uint64_t rowOffset(int y) const {
        return topInFile_ + std::uint64_t(std::int64_t(y) * std::int64_t(stride_));
    }
    std::size_t storedRowBytes() const { return storedRowBytes_; }
    // The colour profile embedded in a V5 header (PROFILE_EMBEDDED), where it lies in the file
    // and how long it is (0: none, or one that does not lie within the file); with read(), its
    // bytes (in the file buffer).
    std::uint64_t profileOffset() const { return profileOffset_; }
    std::uint32_t profileSize() const { return profileSize_; }
    std::span<const std::uint8_t> profile() const { return profile_; }

    // A stored row as row() hands it out: `stored` itself where the format allows, otherwise
    // expanded into scratch.
    const std::uint8_t *convertRow(const std::uint8_t *stored,
                                   std::uint8_t *scratch) const noexcept;

private:
    friend Image detail::parse(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                               std::uint64_t maxPixels, bool haveAll, bool &compressed);
    enum class Kind { Direct, Indexed, Masked16, Masked32 };
    Image() = default;

    Kind kind_ = Kind::Direct;
    RowFormat format_ = RowFormat::Bgr;
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;              // of the stored pixels
    const std::uint8_t *top_ = nullptr; // first byte of the top row (read() only)
    std::ptrdiff_t stride_ = 0;         // from one row to the one below it; negative when bottom-up
    std::uint64_t topInFile_ = 0;       // file offset of the top row (uncompressed bitmaps)
    std::size_t storedRowBytes_ = 0;    // bytes of a stored row without its padding
    std::uint64_t profileOffset_ = 0;
    std::uint32_t profileSize_ = 0;
    std::span<const std::uint8_t> profile_;
    std::array<std::uint8_t, 256 * 3> palette_{}; // BGR; entries the file lacks stay black
    std::vector<std::uint8_t> lut_; // Masked16: BGR per 16-bit value; Masked32: one table a channel
    std::array<std::uint32_t, 3> masks_{};    // Masked32: blue, green, red
    std::array<unsigned, 3> shifts_{};        // Masked32: down-shift to the table index
    std::array<std::size_t, 3> lutOffsets_{}; // Masked32: start of each channel's table
    std::vector<std::uint8_t> decoded_;       // RLE output, bottom row first
};

// Parses a complete BMP file. Throws bmp::Error when the file is not a usable bitmap, or when it
// has more than maxPixels pixels (checked before anything is decoded, so a caller with a smaller
// budget than ours gives it here rather than after the reading).
Image read(std::span<const std::uint8_t> file, std::uint64_t maxPixels = kMaxDecodedBytes / 3);

// Parses a BMP file of fileSize bytes from its first bytes, which must reach at least to the
// pixel data (for a "BM" file, the offset at bytes 10 to 13), with the checks of read(). The
// rows are then read from the file with rowOffset() and storedRowBytes() and handed to
// convertRow(). Run-length compressed bitmaps cannot be read that way: for them the result is
// empty and the whole file must go through read().
std::optional<Image> readLayout(std::span<const std::uint8_t> head, std::uint64_t fileSize,
                                std::uint64_t maxPixels = kMaxDecodedBytes / 3);

} // namespace bmp
