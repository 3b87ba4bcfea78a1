// Writes a JPEG photo again with a few of its blocks changed: the source's own coefficients are
// read, the MCUs that meet the changed areas are encoded anew from the given pixels with the
// source's quantization tables and sampling, and every other block goes out exactly as it came
// in. Nothing outside those MCUs passes through pixels, so nothing there loses quality.
#pragma once

#include "JpegWriter.h"
#include "Sidecars.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

class RowSource;

// Thrown when the source is a JPEG whose blocks cannot be kept (CMYK, 12-bit, ...): what()
// says why, in words for the user.
class CannotKeep : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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

// Writes the result to the sink with optimized Huffman tables, progressive when the source is,
// with its restart interval. Throws CannotKeep, JpegSinkFailed, or std::runtime_error (a damaged
// source, pixels that do not cover a changed MCU).
void writeKeptJpeg(JpegSink &sink, RowSource &pixels, const KeepRequest &request);
