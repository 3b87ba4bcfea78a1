#include "JpegCommon.h"

#include <jerror.h>

namespace jpeg {

namespace {

void onError(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings are of no use on this command line.
void onMessage(j_common_ptr) {}

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

} // namespace

jpeg_error_mgr *useErrors(ErrorManager &err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.output_message = onMessage;
    return &err.pub;
}

void attach(j_compress_ptr cinfo, Destination &dest) {
    dest.pub.init_destination = initDestination;
    dest.pub.empty_output_buffer = emptyBuffer;
    dest.pub.term_destination = termDestination;
    cinfo->dest = &dest.pub;
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

} // namespace jpeg
