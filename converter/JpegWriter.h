// Baseline JPEG encoding of a decoded bitmap with libjpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

class RowSource;

// Where the encoded bytes go.
class JpegSink {
public:
    virtual ~JpegSink() = default;
    // False when the bytes could not all be taken; the sink keeps why.
    virtual bool write(const std::uint8_t *data, std::size_t size) = 0;
};

// Thrown when the sink refused bytes.
class JpegSinkFailed : public std::runtime_error {
public:
    JpegSinkFailed() : std::runtime_error("the output refused the data") {}
};

// One marker segment: the marker (0xE0..0xEF for APPn, 0xFE for COM) and its payload.
struct MarkerSegment {
    int marker = 0;
    std::vector<std::uint8_t> data;
};

// Sampling factors of one component.
struct Sampling {
    int h = 1;
    int v = 1;
};

// What a JPEG carries besides its pixels.
struct JpegMetadata {
    // An ICC colour profile, written as APP2 "ICC_PROFILE" markers (split over as many as it
    // needs, at most kMaxIccProfile bytes in all); empty: none.
    std::span<const std::uint8_t> iccProfile;
    // An EXIF block ("Exif\0\0" and the TIFF structure), written as APP1 right after the start
    // of the file in place of the JFIF header (at most 65533 bytes); empty: none.
    std::span<const std::uint8_t> exif;
    // The metadata of the JPEG the picture came from, written right after the start of the file
    // as it stands, in this order, in place of the JFIF header and the EXIF block above, and of
    // the profile when it holds one of its own (a segment larger than one marker is left out);
    // empty: none.
    std::vector<MarkerSegment> segments;
    // That JPEG's sampling factors (luminance, Cb, Cr): used when its colour is finer than the
    // default's below (4:2:2 stays 4:2:2 at quality 85); empty: the default.
    std::vector<Sampling> sampling;
};

// The most ICC profile data 255 markers can hold.
inline constexpr std::size_t kMaxIccProfile = 255 * 65519;

// Writes the picture of `rows` to `sink` as a baseline JPEG: libjpeg's standard tables scaled to
// `quality` (1..100), default Huffman tables; chroma at full resolution (4:4:4) from quality 90
// up, halved both ways (4:2:0) below. Rows go to libjpeg as the source hands them out, a band at
// a time. Metadata that does not fit its markers is left out. Throws JpegSinkFailed when the
// sink refuses bytes, std::runtime_error with libjpeg's message or when the rows cannot be read;
// libjpeg never gets to end the process.
void writeJpeg(JpegSink &sink, RowSource &rows, int quality, const JpegMetadata &metadata = {});

// From this quality up the colour is kept at full resolution.
inline constexpr int kFullChromaQuality = 90;
