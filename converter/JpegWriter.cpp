#include "JpegWriter.h"

#include "InputBitmap.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace {

// Rows handed to libjpeg per call: one iMCU row at 4:2:0, two at 4:4:4.
constexpr int kRowsPerCall = RowSource::kMaxRows;
constexpr std::size_t kOutputBufferSize = 256 * 1024;

// libjpeg reports fatal errors through error_exit, which must not return. It jumps back to
// encode() instead, whose frames hold no objects with destructors.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings during compression are of no use on this command line.
void onMessage(j_common_ptr) {}

// Hands the encoded bytes to the sink in large pieces.
struct Destination {
    jpeg_destination_mgr pub;
    JpegSink *sink;
    JOCTET *buffer;
    bool sinkFailed;
};

void initDestination(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kOutputBufferSize;
}

void handOver(j_compress_ptr cinfo, std::size_t bytes) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    if (!dest->sink->write(dest->buffer, bytes)) {
        dest->sinkFailed = true;
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

boolean emptyBuffer(j_compress_ptr cinfo) {
    handOver(cinfo, kOutputBufferSize);
    initDestination(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    handOver(cinfo, kOutputBufferSize - cinfo->dest->free_in_buffer);
}

J_COLOR_SPACE colorSpaceOf(bmp::RowFormat format) {
    switch (format) {
    case bmp::RowFormat::Bgr:
        return JCS_EXT_BGR;
    case bmp::RowFormat::Bgrx:
        return JCS_EXT_BGRX;
    case bmp::RowFormat::Rgbx:
        return JCS_EXT_RGBX;
    case bmp::RowFormat::Xbgr:
        return JCS_EXT_XBGR;
    case bmp::RowFormat::Xrgb:
        return JCS_EXT_XRGB;
    }
    return JCS_EXT_BGR;
}

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

// All libjpeg work happens here, between setjmp and any longjmp, so that nothing with a
// destructor is skipped. Buffers come from the caller. Returns false with `message` filled in
// (and dest.sinkFailed set when the sink refused bytes).
bool encode(Destination &dest, RowSource &source, int quality, const JpegMetadata &metadata,
            char *message) {
    const bmp::Image &image = source.image();
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.output_message = onMessage;
    if (setjmp(err.jump)) {
        std::memcpy(message, err.message, JMSG_LENGTH_MAX);
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);

    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = emptyBuffer;
    dest.pub.term_destination = termDestination;
    cinfo.dest = &dest.pub;

    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = image.bytesPerPixel();
    cinfo.in_color_space = colorSpaceOf(image.format());
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
    const bool exif = !metadata.exif.empty() && metadata.exif.size() <= kMaxMarkerData;
    const bool icc = !metadata.iccProfile.empty() && metadata.iccProfile.size() <= kMaxIccProfile;
    // The camera data goes first, where its readers look for it; it carries its own resolution.
    if (exif)
        cinfo.write_JFIF_header = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
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
    std::vector<JOCTET> outputBuffer(kOutputBufferSize);
    std::vector<char> message(JMSG_LENGTH_MAX, '\0');
    Destination dest{};
    dest.sink = &sink;
    dest.buffer = outputBuffer.data();
    if (!encode(dest, rows, std::clamp(quality, 1, 100), metadata, message.data())) {
        if (dest.sinkFailed)
            throw JpegSinkFailed();
        throw std::runtime_error(message.data());
    }
}
