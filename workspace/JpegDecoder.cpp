#include "workspace/JpegDecoder.h"

#include "workspace/CmykColour.h"

#include <QColorSpace>
#include <QString>

#include <algorithm>
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

// The rectangle whose opposite corners are the two pixels a and b.
QRect spanning(const QPoint &a, const QPoint &b) {
    return QRect(QPoint(qMin(a.x(), b.x()), qMin(a.y(), b.y())),
                 QPoint(qMax(a.x(), b.x()), qMax(a.y(), b.y())));
}

// Orientations 5 to 8 swap the sides.
bool swapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Where the stored pixel (x, y) of a part w x h lands once turned upright.
QPoint turned(int x, int y, int w, int h, int orientation) {
    switch (orientation) {
    case 2:
        return {w - 1 - x, y};
    case 3:
        return {w - 1 - x, h - 1 - y};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {h - 1 - y, x};
    case 7:
        return {h - 1 - y, w - 1 - x};
    case 8:
        return {y, w - 1 - x};
    default:
        return {x, y};
    }
}

// Puts `count` stored rows, starting at row y of a part w x h, into the turned picture. Rows of
// the first four orientations stay rows; the others become columns, which a band of rows writes
// as short runs along each picture row.
void placeBand(const uchar *const *rows, int count, int y, int w, int h, int orientation,
               QImage &out) {
    uchar *const bits = out.bits();
    const qsizetype stride = out.bytesPerLine();
    if (!swapsSides(orientation)) {
        for (int i = 0; i < count; ++i) {
            const auto *from = reinterpret_cast<const QRgb *>(rows[i]);
            const QPoint start = turned(0, y + i, w, h, orientation);
            auto *to = reinterpret_cast<QRgb *>(bits + start.y() * stride);
            if (start.x() == 0) {
                std::copy(from, from + w, to);
            } else {
                std::reverse_copy(from, from + w, to);
            }
        }
        return;
    }
    for (int x = 0; x < w; ++x) {
        for (int i = 0; i < count; ++i) {
            const QPoint at = turned(x, y + i, w, h, orientation);
            reinterpret_cast<QRgb *>(bits + at.y() * stride)[at.x()] =
                reinterpret_cast<const QRgb *>(rows[i])[x];
        }
    }
}

} // namespace

QRect StoredRect(const QRect &upright, QSize frame, int orientation) {
    const QSize shown = swapsSides(orientation) ? frame.transposed() : frame;
    const QRect r = upright.intersected(QRect(QPoint(0, 0), shown));
    if (r.isEmpty()) {
        return {};
    }
    // Turning back: a quarter turn one way undoes one the other way; every other orientation
    // undoes itself.
    const int back = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
    const QPoint a = turned(r.left(), r.top(), shown.width(), shown.height(), back);
    const QPoint b = turned(r.right(), r.bottom(), shown.width(), shown.height(), back);
    return spanning(a, b);
}

QRect UprightRect(const QRect &stored, QSize frame, int orientation) {
    const QRect r = stored.intersected(QRect(QPoint(0, 0), frame));
    if (r.isEmpty()) {
        return {};
    }
    const QPoint a = turned(r.left(), r.top(), frame.width(), frame.height(), orientation);
    const QPoint b = turned(r.right(), r.bottom(), frame.width(), frame.height(), orientation);
    return spanning(a, b);
}

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
    decoded.frame = decoded.covered.size();
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
    const int orientation =
        options.orientation >= 1 && options.orientation <= 8 ? options.orientation : 1;
    const int width = decoded.covered.width();
    const int height = decoded.covered.height();
    QImage image(swapsSides(orientation) ? decoded.covered.size().transposed()
                                         : decoded.covered.size(),
                 QImage::Format_RGB32);
    if (image.isNull()) {
        tooLarge();
    }
    uchar *const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    // Upright pictures take their rows straight from libjpeg (CMYK ones through their
    // conversion); turned ones go through a band of rows.
    const bool direct = orientation == 1;
    std::vector<uchar> band;
    std::vector<uchar> cmykRows;
    std::optional<CmykToRgb> colours;
    if (!direct) {
        band.resize(size_t(Band) * size_t(width) * 4);
    }
    if (cmyk) {
        cmykRows.resize(size_t(Band) * size_t(width) * 4);
        colours.emplace(QByteArray(reinterpret_cast<const char *>(w.icc), qsizetype(w.iccLength)),
                        c.saw_Adobe_marker != 0);
    }
    int done = 0;
    while (done < height) {
        JSAMPROW rows[Band];
        uchar *placed[Band];
        const int count = qMin(Band, height - done);
        for (int i = 0; i < count; ++i) {
            placed[i] =
                direct ? bits + (done + i) * stride : band.data() + size_t(i) * size_t(width) * 4;
            rows[i] = cmyk ? cmykRows.data() + size_t(i) * size_t(width) * 4 : placed[i];
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
                colours->convert(rows[i], reinterpret_cast<QRgb *>(placed[i]), width);
            }
        }
        if (!direct) {
            placeBand(placed, int(read), done, width, height, orientation, image);
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
