// What follows the first picture of a JPG written from a JPEG photo that held more: its other
// pictures (a gain map, a second view, a large preview) and a maker's trailer. The program leaves
// them beside the input, ready but for the offsets that depend on the new first picture's
// length, which only the encoder learns:
//   INPUT.after   the bytes that follow the new first picture's end, as they are to stand;
//   INPUT.mpf     text, the fields of the first picture's MPF index (the APP2 "MPF\0" segment,
//                 whose offsets count from its TIFF header) to set once that length is known:
//                   first P      the four bytes at P of the segment's payload: the length
//                   after P T    the offset of what lies T bytes after the first picture's end
// The values are written in the index's own byte order.
#pragma once

#include "JpegWriter.h"
#include "SafeReplace.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

struct MpfField {
    std::size_t at = 0;      // in the MPF segment's payload
    bool first = false;      // the first picture's length; else an offset
    std::uint64_t after = 0; // for an offset: how far after the first picture's end
};

struct PicturesAfter {
    std::vector<std::uint8_t> bytes;
    std::vector<MpfField> fields;
};

// Throws std::runtime_error for a line that is not one of the above.
std::vector<MpfField> parseMpfFields(std::span<const std::uint8_t> text);
// The files beside `input`; nothing when neither is there. Throws std::runtime_error when one
// cannot be read or holds a bad line.
std::optional<PicturesAfter> picturesAfterFor(const std::filesystem::path &input);

// Hands the bytes on to `next`, counting them, and finds the first MPF segment in the file's
// head as it passes (before the first scan).
class CountingSink : public JpegSink {
public:
    explicit CountingSink(JpegSink &next) : next_(next) {}
    bool write(const std::uint8_t *data, std::size_t size) override;
    std::uint64_t count() const { return count_; }
    // The MPF segment's payload in the file so far: where it starts and how long it is (0: none).
    std::uint64_t mpfAt() const { return mpfAt_; }
    std::size_t mpfLength() const { return mpfLength_; }
    // The payload's first bytes (its "MPF\0" and the TIFF byte order).
    const std::vector<std::uint8_t> &mpfStart() const { return mpfStart_; }

private:
    void readHead();

    JpegSink &next_;
    std::uint64_t count_ = 0;
    std::vector<std::uint8_t> head_;
    std::size_t scan_ = 0;
    bool headDone_ = false;
    std::uint64_t mpfAt_ = 0;
    std::size_t mpfLength_ = 0;
    std::vector<std::uint8_t> mpfStart_;
};

// Once the first picture has gone through `sink` into `replacement`: sets the index's fields and
// appends the bytes. Throws std::runtime_error (fields but no index in the file, a field outside
// it, an offset past 4 GB) or JpegSinkFailed / safe::Failure when the output refuses them.
void writePicturesAfter(const PicturesAfter &after, CountingSink &sink,
                        safe::Replacement &replacement);
