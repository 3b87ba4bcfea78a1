// Writes a JPEG photo again with a few of its blocks changed: the source's own coefficients are
// read, the MCUs that meet the changed areas are encoded anew from the given pixels with the
// source's quantization tables and sampling, and every other block goes out exactly as it came
// in. Nothing outside those MCUs passes through pixels, so nothing there loses quality.
#pragma once

#include "BmpReader.h"
#include "JpegWriter.h"
#include "Sidecars.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

class RowSource;

// Thrown when the source is a JPEG whose blocks cannot be kept (CMYK, 12-bit, a zero in a
// quantization table, coefficients a baseline file cannot code, ...): what() says why, in words
// for the user, without naming any file.
class CannotKeep : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Stamped pixels, handed out a band of rows at a time from any row.
class PatchRows {
public:
    virtual ~PatchRows() = default;
    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual bmp::RowFormat format() const = 0;
    // Points rows[0 .. count) at rows first .. first + count - 1 (count at most 16), valid until
    // the next call. False when they could not be read.
    virtual bool fetch(int first, int count, const std::uint8_t **rows) = 0;
};

struct KeepWork;

// A JPEG photo held as its blocks: read once, some MCUs encoded anew, written again.
class KeptBlocks {
public:
    // Reads the coefficients of `source` (which must outlive this object). With `readMarkers`,
    // its APPn and COM segments are held to be written as they were. With a `reduction` of 2 or
    // 4, the picture at that fraction of its size is decoded from the same reading (see
    // reduced()); not at an eighth, where libjpeg would not keep the blocks' AC coefficients.
    // Throws CannotKeep, or std::runtime_error with libjpeg's words for damaged data.
    KeptBlocks(std::span<const std::uint8_t> source, bool readMarkers, int reduction = 0);
    ~KeptBlocks();
    KeptBlocks(const KeptBlocks &) = delete;
    KeptBlocks &operator=(const KeptBlocks &) = delete;

    int width() const;
    int height() const;
    int mcuWidth() const;
    int mcuHeight() const;

    // The picture reduced as asked at construction, each side rounded up: row after row, each
    // pixel the 32-bit value 0xFFRRGGBB in the machine's byte order; empty unless asked for.
    const std::vector<std::uint8_t> &reduced() const;
    int reducedWidth() const;
    int reducedHeight() const;

    // A small baseline JPEG of the blocks of the MCUs in `mcus` (whole MCUs of the stored frame,
    // within it): decoded, it gives the pixels the photo has there, but for a strip along its
    // sides where colour from the MCUs beyond would blend in. Throws std::runtime_error.
    std::vector<std::uint8_t> regionJpeg(const Area &mcus);

    // Encodes the MCUs that meet `changed.areas` anew from `pixels`, which lie at
    // `changed.patch` in the stored frame. Throws std::runtime_error when they do not cover a
    // changed MCU or cannot be read.
    void replace(PatchRows &pixels, const ChangedAreas &changed);

    // Writes the photo to the sink with optimized Huffman tables, progressive when the source
    // is, with its restart interval; after the start of the file `segments` when given, else
    // the source's own segments (held when read with readMarkers). Throws JpegSinkFailed,
    // CannotKeep or std::runtime_error.
    void write(JpegSink &sink, const std::optional<std::vector<MarkerSegment>> &segments);

private:
    std::unique_ptr<KeepWork> w_;
};

struct KeepRequest {
    // The source JPEG file's bytes.
    std::span<const std::uint8_t> source;
    // The stamped pixels: `patch` is the rectangle of the source's stored frame they cover
    // (their size is the row source's picture's), `areas` what the stamps changed in it.
    ChangedAreas changed;
    // Segments written after the start of the file in place of the source's own, when given
    // (the source's JFIF, EXIF, XMP, profile... as the caller made them ready); otherwise every
    // marker segment of the source is copied as it was, in its order.
    std::optional<std::vector<MarkerSegment>> segments;
};

// The whole keep from a bitmap's rows: reads, replaces and writes as above.
void writeKeptJpeg(JpegSink &sink, RowSource &pixels, const KeepRequest &request);
