#include "JpegWriter.h"

#include "InputBitmap.h"

#include "JpegCommon.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Rows handed to libjpeg per call: one iMCU row at 4:2:0, two at 4:4:4.
constexpr int kRowsPerCall = RowSource::kMaxRows;

constexpr int kIccMarker = JPEG_APP0 + 2;
constexpr int kExifMarker = JPEG_APP0 + 1;
constexpr std::uint8_t kIccSignature[] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
constexpr std::size_t kIccChunk = 65519;
constexpr std::size_t kMaxMarkerData = 65533;

// The profile in numbered pieces, each "ICC_PROFILE\0", its number from 1, their count, data.
void writeIccProfile(j_compress_ptr cinfo, std::span<const std::uint8_t> profile) {
    const std::size_t count = (profile.size() + kIccChunk - 1) / kIccChunk;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t offset = i * kIccChunk;
        const std::size_t length = std::min(kIccChunk, profile.size() - offset);
        jpeg_write_m_header(cinfo, kIccMarker, unsigned(sizeof kIccSignature + 2 + length));
        for (const std::uint8_t byte : kIccSignature)
            jpeg_write_m_byte(cinfo, byte);
        jpeg_write_m_byte(cinfo, int(i + 1));
        jpeg_write_m_byte(cinfo, int(count));
        for (std::size_t b = 0; b < length; ++b)
            jpeg_write_m_byte(cinfo, profile[offset + b]);
    }
}

// The source's sampling when its colour is finer than the default's and the factors make sense
// for three components (luminance factors multiples of the colour's, Cb and Cr alike).
bool useSampling(j_compress_ptr cinfo, const std::vector<Sampling> &sampling) {
    if (cinfo->num_components != 3 || sampling.size() != 3)
        return false;
    const Sampling y = sampling[0], cb = sampling[1], cr = sampling[2];
    for (const Sampling &f : sampling)
        if (f.h < 1 || f.h > 4 || f.v < 1 || f.v > 4)
            return false;
    if (cb.h != cr.h || cb.v != cr.v || y.h % cb.h != 0 || y.v % cb.v != 0)
        return false;
    const int defaultRatio =
        cinfo->comp_info[0].h_samp_factor * cinfo->comp_info[0].v_samp_factor /
        (cinfo->comp_info[1].h_samp_factor * cinfo->comp_info[1].v_samp_factor);
    if ((y.h / cb.h) * (y.v / cb.v) >= defaultRatio)
        return false;
    for (int c = 0; c < 3; ++c) {
        cinfo->comp_info[c].h_samp_factor = sampling[std::size_t(c)].h;
        cinfo->comp_info[c].v_samp_factor = sampling[std::size_t(c)].v;
    }
    return true;
}

// All libjpeg work happens here, between setjmp and any longjmp, so that nothing with a
// destructor is skipped. Buffers come from the caller. Returns false with `message` filled in
// (and dest.sinkFailed set when the sink refused bytes).
bool encode(jpeg::Destination &dest, RowSource &source, int quality, const JpegMetadata &metadata,
            char *message) {
    const bmp::Image &image = source.image();
    jpeg_compress_struct cinfo{};
    jpeg::ErrorManager err{};
    cinfo.err = jpeg::useErrors(err);
    if (setjmp(err.jump)) {
        std::memcpy(message, err.message, JMSG_LENGTH_MAX);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg::attach(&cinfo, dest);

    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = image.bytesPerPixel();
    cinfo.in_color_space = jpeg::colorSpaceOf(image.format());
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = FALSE;
    if (quality >= kFullChromaQuality) {
        // Every component at the luminance's resolution: coloured edges stay sharp.
        for (int c = 0; c < cinfo.num_components; ++c) {
            cinfo.comp_info[c].h_samp_factor = 1;
            cinfo.comp_info[c].v_samp_factor = 1;
        }
    }
    useSampling(&cinfo, metadata.sampling);
    const bool segments = !metadata.segments.empty();
    const bool exif = !segments && !metadata.exif.empty() && metadata.exif.size() <= kMaxMarkerData;
    // The bitmap's profile, unless the source's own profile segments go in.
    bool sourceHasProfile = false;
    for (const MarkerSegment &segment : metadata.segments)
        sourceHasProfile =
            sourceHasProfile ||
            (segment.marker == kIccMarker && segment.data.size() >= sizeof kIccSignature &&
             std::memcmp(segment.data.data(), kIccSignature, sizeof kIccSignature) == 0);
    const bool icc = !sourceHasProfile && !metadata.iccProfile.empty() &&
                     metadata.iccProfile.size() <= kMaxIccProfile;
    // The camera data goes first, where its readers look for it; it carries its own resolution.
    // Segments of a source go as they were, in its order, JFIF header included if it had one.
    if (exif || segments)
        cinfo.write_JFIF_header = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    for (const MarkerSegment &segment : metadata.segments)
        if (segment.data.size() <= kMaxMarkerData)
            jpeg_write_marker(&cinfo, segment.marker, segment.data.data(),
                              unsigned(segment.data.size()));
    if (exif)
        jpeg_write_marker(&cinfo, kExifMarker, metadata.exif.data(),
                          unsigned(metadata.exif.size()));
    if (icc)
        writeIccProfile(&cinfo, metadata.iccProfile);
    const std::uint8_t *fetched[kRowsPerCall];
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < cinfo.image_height) {
        const int first = int(cinfo.next_scanline);
        const int count = std::min(kRowsPerCall, image.height() - first);
        if (!source.fetch(first, count, fetched)) {
            std::snprintf(message, JMSG_LENGTH_MAX, "the input file could not be read to its end");
            jpeg_destroy_compress(&cinfo);
            return false;
        }
        for (int i = 0; i < count; ++i)
            rows[i] = const_cast<JSAMPROW>(fetched[i]);
        jpeg_write_scanlines(&cinfo, rows, JDIMENSION(count));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

void writeJpeg(JpegSink &sink, RowSource &rows, int quality, const JpegMetadata &metadata) {
    std::vector<JOCTET> outputBuffer(jpeg::kOutputBufferSize);
    std::vector<char> message(JMSG_LENGTH_MAX, '\0');
    jpeg::Destination dest{};
    dest.sink = &sink;
    dest.buffer = outputBuffer.data();
    if (!encode(dest, rows, std::clamp(quality, 1, 100), metadata, message.data())) {
        if (dest.sinkFailed)
            throw JpegSinkFailed();
        throw std::runtime_error(message.data());
    }
}
