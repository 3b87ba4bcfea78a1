// The floor a load is measured against: libjpeg-turbo's own decode of the same file.
#include "bench/Bench.h"

#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <jpeglib.h>
#include <vector>

// The floor: libjpeg-turbo decoding the file (read into memory first) into 32-bit rows, as fast
// as it goes, best of three.
double BareDecodeMs(const QString &path) {
    double best = 1e300;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return -1.0;
        }
        const QByteArray bytes = file.readAll();
        jpeg_decompress_struct cinfo{};
        jpeg_error_mgr jerr{};
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(bytes.constData()),
                     (unsigned long)bytes.size());
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGRX;
        jpeg_start_decompress(&cinfo);
        const size_t stride = size_t(cinfo.output_width) * 4;
        std::vector<unsigned char> pixels(stride * cinfo.output_height);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW rows[16];
            for (int i = 0; i < 16; ++i) {
                rows[i] = pixels.data() + stride * std::min<size_t>(cinfo.output_scanline + i,
                                                                    cinfo.output_height - 1);
            }
            jpeg_read_scanlines(&cinfo, rows, 16);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        best = std::min(best, double(timer.nsecsElapsed()) / 1e6);
    }
    return best;
}

qint64 SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
