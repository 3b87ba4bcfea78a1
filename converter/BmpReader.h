// Reader for Windows and OS/2 bitmaps (BMP/DIB files), free of any GUI library so that the
// converter and a fuzzer can both use it.
//
// bmp::read() checks a whole file held in memory and returns an Image that hands out its rows top
// to bottom as 3- or 4-byte pixels. Uncompressed 24-bit and byte-aligned 32-bit pixels are handed
// out straight from the file buffer; everything else is expanded row by row into a caller's buffer.
// RLE data is decoded once, at read time.
//
// Accepted: BMP files and packed DIBs (no file header, as on the clipboard);
// 1, 2, 4, 8, 16, 24 and 32 bits per pixel; bottom-up and top-down rows; BI_RGB,
// BI_RLE8, BI_RLE4, BI_BITFIELDS, BI_ALPHABITFIELDS and OS/2 RLE24; header sizes 12 (OS/2 1.x),
// 16 to 64 (OS/2 2.x), 40, 52, 56, 108 and 124. Alpha is dropped.
// Refused with bmp::Error: anything truncated, inconsistent or larger than the limits below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
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
    // The ICC colour profile embedded in a version 5 header, inside the file buffer; empty when
    // the file has none or its place lies outside the file.
    std::span<const std::uint8_t> profile() const { return profile_; }

    // Row y, counted from the top (0 <= y < height()). The result points either into the file
    // buffer (which must outlive the Image), into the Image, or into scratch, which must hold
    // rowBytes() bytes.
    const std::uint8_t *row(int y, std::uint8_t *scratch) const noexcept;

private:
    friend Image read(std::span<const std::uint8_t> file, std::uint64_t maxPixels);
    enum class Kind { Direct, Indexed, Masked16, Masked32 };
    Image() = default;

    Kind kind_ = Kind::Direct;
    RowFormat format_ = RowFormat::Bgr;
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 0;              // of the stored pixels
    const std::uint8_t *top_ = nullptr; // first byte of the top row
    std::ptrdiff_t stride_ = 0;         // from one row to the one below it; negative when bottom-up
    std::array<std::uint8_t, 256 * 3> palette_{}; // BGR; entries the file lacks stay black
    std::vector<std::uint8_t> lut_; // Masked16: BGR per 16-bit value; Masked32: one table a channel
    std::array<std::uint32_t, 3> masks_{};    // Masked32: blue, green, red
    std::array<unsigned, 3> shifts_{};        // Masked32: down-shift to the table index
    std::array<std::size_t, 3> lutOffsets_{}; // Masked32: start of each channel's table
    std::vector<std::uint8_t> decoded_;       // RLE output, bottom row first
    std::span<const std::uint8_t> profile_;
};

// Parses a complete BMP file. Throws bmp::Error when the file is not a usable bitmap, or when it
// has more than maxPixels pixels (checked before anything is decoded, so a caller with a smaller
// budget than ours gives it here rather than after the reading).
Image read(std::span<const std::uint8_t> file, std::uint64_t maxPixels = kMaxDecodedBytes / 3);

} // namespace bmp
