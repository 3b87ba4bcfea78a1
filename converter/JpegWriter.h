// Baseline JPEG encoding of a decoded bitmap with libjpeg.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

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

// Writes the picture of `rows` to `sink` as a baseline JPEG: libjpeg's standard tables scaled to
// `quality` (1..100), default Huffman tables; chroma at full resolution (4:4:4) from quality 90
// up, halved both ways (4:2:0) below. Rows go to libjpeg as the source hands them out, a band at
// a time. Throws JpegSinkFailed when the sink refuses bytes, std::runtime_error with libjpeg's
// message or when the rows cannot be read; libjpeg never gets to end the process.
void writeJpeg(JpegSink &sink, RowSource &rows, int quality);

// From this quality up the colour is kept at full resolution.
inline constexpr int kFullChromaQuality = 90;
