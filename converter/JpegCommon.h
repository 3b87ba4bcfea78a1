// What the converter's libjpeg work shares: fatal errors that jump back instead of ending the
// process, a destination that hands the bytes to a sink, and the bitmap's row formats.
#pragma once

#include "BmpReader.h"
#include "JpegWriter.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

namespace jpeg {

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to the
// setjmp of the caller, whose frame holds no objects with destructors. One manager may serve
// several libjpeg objects at once.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};
// Points the object's error handling at `err` (warnings are dropped).
jpeg_error_mgr *useErrors(ErrorManager &err);

constexpr std::size_t kOutputBufferSize = 256 * 1024;

// Hands the encoded bytes to the sink in large pieces; `buffer` holds kOutputBufferSize bytes.
struct Destination {
    jpeg_destination_mgr pub;
    JpegSink *sink;
    JOCTET *buffer;
    bool sinkFailed;
};
// Makes `dest` the compressor's destination.
void attach(j_compress_ptr cinfo, Destination &dest);

// The libjpeg colour space of the bitmap's rows.
J_COLOR_SPACE colorSpaceOf(bmp::RowFormat format);

} // namespace jpeg
