#include "JpegWriter.h"

#include "BmpReader.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <stdexcept>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace {

// Rows handed to libjpeg per call: one iMCU row at 4:2:0.
constexpr int kRowsPerCall = 16;
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

// Writes through a large buffer with fwrite; libjpeg's own stdio destination uses 4 KB writes.
struct Destination {
    jpeg_destination_mgr pub;
    std::FILE *file;
    JOCTET *buffer;
};

void initDestination(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = kOutputBufferSize;
}

boolean emptyBuffer(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    if (std::fwrite(dest->buffer, 1, kOutputBufferSize, dest->file) != kOutputBufferSize)
        ERREXIT(cinfo, JERR_FILE_WRITE);
    initDestination(cinfo);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto *dest = reinterpret_cast<Destination *>(cinfo->dest);
    const std::size_t bytes = kOutputBufferSize - dest->pub.free_in_buffer;
    if (std::fwrite(dest->buffer, 1, bytes, dest->file) != bytes || std::fflush(dest->file) != 0)
        ERREXIT(cinfo, JERR_FILE_WRITE);
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

// All libjpeg work happens here, between setjmp and any longjmp, so that nothing with a
// destructor is skipped. Buffers come from the caller. Returns false with `message` filled in.
bool encode(std::FILE *out, const bmp::Image &image, int quality, JOCTET *outputBuffer,
            std::uint8_t *scratch, char *message) {
    jpeg_compress_struct cinfo{};
    ErrorManager err{};
    Destination dest{};
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
    dest.file = out;
    dest.buffer = outputBuffer;
    cinfo.dest = &dest.pub;

    cinfo.image_width = JDIMENSION(image.width());
    cinfo.image_height = JDIMENSION(image.height());
    cinfo.input_components = image.bytesPerPixel();
    cinfo.in_color_space = colorSpaceOf(image.format());
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = FALSE;
    jpeg_start_compress(&cinfo, TRUE);

    const std::size_t rowBytes = image.rowBytes();
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < cinfo.image_height) {
        const int first = int(cinfo.next_scanline);
        const int count = std::min(kRowsPerCall, image.height() - first);
        for (int i = 0; i < count; ++i)
            rows[i] =
                const_cast<JSAMPROW>(image.row(first + i, scratch + std::size_t(i) * rowBytes));
        jpeg_write_scanlines(&cinfo, rows, JDIMENSION(count));
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

} // namespace

void writeJpeg(std::FILE *out, const bmp::Image &image, int quality) {
    std::vector<JOCTET> outputBuffer(kOutputBufferSize);
    std::vector<std::uint8_t> scratch(image.rowsAreDirect() ? 1 : kRowsPerCall * image.rowBytes());
    std::vector<char> message(JMSG_LENGTH_MAX, '\0');
    if (!encode(out, image, std::clamp(quality, 1, 100), outputBuffer.data(), scratch.data(),
                message.data()))
        throw std::runtime_error(message.data());
}
