#include "workspace/JpegDecoder.h"

#include "workspace/CmykColour.h"

#include <QColorSpace>
#include <QString>

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include <jerror.h>

namespace {

// A progressive file may hold any number of scans; more than any writer makes only costs time.
constexpr int MaxScans = 1000;
constexpr int KeptWarnings = 8;
// Rows handed to libjpeg at once.
constexpr int Band = 16;

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back to the
// setjmp of guarded() below, across libjpeg's frames and ours that hold nothing to destroy.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    int code;
    char message[JMSG_LENGTH_MAX];
    int warningCount;
    char warnings[KeptWarnings][JMSG_LENGTH_MAX];
};

// Warnings that mean pixels are missing or made up: the data ends early, a marker interrupts it,
// or its codes make no sense. libjpeg would go on with grey or garbled blocks.
bool damagesPixels(int code) {
    return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC ||
           code == JWRN_HUFF_BAD_CODE || code == JWRN_ARITH_BAD_CODE;
}

[[noreturn]] void jumpBack(j_common_ptr cinfo) {
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    err->code = cinfo->err->msg_code;
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) {
        return; // trace messages
    }
    if (damagesPixels(cinfo->err->msg_code)) {
        jumpBack(cinfo);
    }
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    if (err->warningCount < KeptWarnings) {
        (*cinfo->err->format_message)(cinfo, err->warnings[err->warningCount]);
    }
    ++err->warningCount;
    ++cinfo->err->num_warnings;
}

void onProgress(j_common_ptr cinfo) {
    const auto *d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > MaxScans) {
        auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
        err->code = -1;
        std::snprintf(err->message, sizeof err->message, "more than %d scans", MaxScans);
        std::longjmp(err->jump, 1);
    }
}

// Everything libjpeg works on, kept outside the frames it may jump across.
struct Work {
    ErrorManager err{};
    jpeg_progress_mgr progress{};
    jpeg_decompress_struct cinfo{};
    bool created = false;
    JOCTET *icc = nullptr;
    unsigned iccLength = 0;

    Work() = default;
    Work(const Work &) = delete;
    Work &operator=(const Work &) = delete;
    ~Work() {
        if (created) {
            jpeg_destroy_decompress(&cinfo);
        }
        std::free(icc);
    }
};

// Runs libjpeg calls that may fail; false when one did (the error manager says why). The calls
// leave nothing with a destructor on the frames a failure jumps across.
template <typename Calls> bool guarded(Work &w, Calls &&calls) {
    if (setjmp(w.err.jump)) {
        return false;
    }
    calls();
    return true;
}

[[noreturn]] void tooLarge() {
    throw JpegError(JpegError::Kind::TooLarge, "Out of memory");
}

// The error libjpeg stopped at, in words: what kind of JPEG it is where libjpeg does not decode
// that kind, else libjpeg's own message.
[[noreturn]] void fail(const Work &w) {
    using Kind = JpegError::Kind;
    // The number the message names: the precision, or the frame's marker.
    const int marker = w.err.pub.msg_parm.i[0];
    switch (w.err.code) {
    case JERR_BAD_PRECISION:
        throw JpegError(Kind::Unsupported,
                        QStringLiteral("%1-bit JPEG: not supported").arg(marker).toStdString());
    case JERR_OUT_OF_MEMORY:
    case JERR_NO_BACKING_STORE:
        tooLarge();
    case JERR_SOF_UNSUPPORTED:
        // SOF3 and SOF11 are lossless; SOF5 to SOF7 and SOF13 to SOF15 hierarchical.
        throw JpegError(Kind::Unsupported, marker == 0xC3 || marker == 0xCB
                                               ? "lossless JPEG: not supported"
                                               : "hierarchical JPEG: not supported");
    case JERR_EMPTY_IMAGE:
        throw JpegError(Kind::Unsupported,
                        "JPEG whose height follows its data (DNL): not supported");
    default:
        throw JpegError(Kind::Damaged, w.err.message);
    }
}

// The MCUs of a rectangle of the output: widened to whole MCUs (in output pixels) and clipped.
QRect wholeMcus(const QRect &region, const jpeg_decompress_struct &c) {
    const int single = c.num_components == 1;
    const int w = (single ? 1 : c.max_h_samp_factor) * c.min_DCT_scaled_size;
    const int h = (single ? 1 : c.max_v_samp_factor) * c.min_DCT_scaled_size;
    const QRect frame(0, 0, int(c.output_width), int(c.output_height));
    const QRect r = region.intersected(frame);
    if (r.isEmpty()) {
        return {};
    }
    const int x0 = r.left() / w * w, y0 = r.top() / h * h;
    const int x1 = qMin(frame.width(), (r.right() + w) / w * w);
    const int y1 = qMin(frame.height(), (r.bottom() + h) / h * h);
    return QRect(x0, y0, x1 - x0, y1 - y0);
}

} // namespace

JpegDecoded DecodeJpeg(QByteArrayView file, const JpegDecodeOptions &options) {
    Work w;
    jpeg_decompress_struct &c = w.cinfo;
    c.err = jpeg_std_error(&w.err.pub);
    w.err.pub.error_exit = jumpBack;
    w.err.pub.emit_message = onMessage;
    w.progress.progress_monitor = onProgress;
    const int scale =
        options.scale == 2 || options.scale == 4 || options.scale == 8 ? options.scale : 1;
    if (!guarded(w, [&] {
            jpeg_create_decompress(&c);
            w.created = true;
            c.mem->max_memory_to_use = long(qMin<qint64>(options.maxDecodedBytes, LONG_MAX));
            c.progress = &w.progress;
            jpeg_mem_src(&c, reinterpret_cast<const unsigned char *>(file.data()),
                         (unsigned long)file.size());
            jpeg_save_markers(&c, JPEG_APP0 + 2, 0xFFFF);
            jpeg_read_header(&c, TRUE);
            jpeg_read_icc_profile(&c, &w.icc, &w.iccLength);
        })) {
        fail(w);
    }
    if (qint64(c.image_width) * qint64(c.image_height) * 4 > options.maxDecodedBytes) {
        tooLarge();
    }
    const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    if (!guarded(w, [&] {
            c.scale_num = 1;
            c.scale_denom = unsigned(scale);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
            c.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
#else
            c.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_XRGB;
#endif
            jpeg_start_decompress(&c);
        })) {
        fail(w);
    }
    JpegDecoded decoded;
    decoded.covered = QRect(0, 0, int(c.output_width), int(c.output_height));
    if (!options.region.isEmpty()) {
        decoded.covered = wholeMcus(options.region, c);
        if (decoded.covered.isEmpty()) {
            return decoded;
        }
        JDIMENSION left = JDIMENSION(decoded.covered.x());
        JDIMENSION width = JDIMENSION(decoded.covered.width());
        if (!guarded(w, [&] {
                if (width != c.output_width) {
                    jpeg_crop_scanline(&c, &left, &width);
                }
                jpeg_skip_scanlines(&c, JDIMENSION(decoded.covered.y()));
            })) {
            fail(w);
        }
        decoded.covered.setLeft(int(left));
        decoded.covered.setWidth(int(width));
    }
    QImage image(decoded.covered.size(), QImage::Format_RGB32);
    if (image.isNull()) {
        tooLarge();
    }
    uchar *const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    const int height = image.height();
    std::vector<uchar> cmykRows;
    std::optional<CmykToRgb> colours;
    if (cmyk) {
        cmykRows.resize(size_t(Band) * size_t(image.width()) * 4);
        colours.emplace(QByteArray(reinterpret_cast<const char *>(w.icc), qsizetype(w.iccLength)),
                        c.saw_Adobe_marker != 0);
    }
    int done = 0;
    while (done < height) {
        JSAMPROW rows[Band];
        const int count = qMin(Band, height - done);
        for (int i = 0; i < count; ++i) {
            rows[i] = cmyk ? cmykRows.data() + size_t(i) * size_t(image.width()) * 4
                           : bits + (done + i) * stride;
        }
        JDIMENSION read = 0;
        if (!guarded(w, [&] { read = jpeg_read_scanlines(&c, rows, JDIMENSION(count)); })) {
            fail(w);
        }
        if (read == 0) {
            throw JpegError(JpegError::Kind::Damaged, "the picture's data ends early");
        }
        if (cmyk) {
            for (JDIMENSION i = 0; i < read; ++i) {
                colours->convert(rows[i], reinterpret_cast<QRgb *>(bits + (done + int(i)) * stride),
                                 image.width());
            }
        }
        done += int(read);
    }
    if (cmyk) {
        image.setColorSpace(QColorSpace::SRgb);
    } else if (w.iccLength > 0) {
        image.setColorSpace(QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char *>(w.icc), qsizetype(w.iccLength))));
    }
    decoded.image = std::move(image);
    for (int i = 0; i < qMin(KeptWarnings, w.err.warningCount); ++i) {
        decoded.warnings << QString::fromLocal8Bit(w.err.warnings[i]);
    }
    return decoded;
}
