#pragma once

// JPEG pictures decoded with libjpeg-turbo straight into the QImage the program holds: the whole
// picture, the picture at a fraction of its size (the library's DCT scaling, for a quick first
// view of a big photo), or only the MCUs under a rectangle. CMYK and YCCK photos come out as RGB
// through their own ICC profile (Little CMS). libjpeg never ends the process: its errors become
// a JpegError.

#include "app/ErrorReport.h"

#include <QByteArrayView>
#include <QImage>
#include <QRect>
#include <QStringList>

// Why a JPEG could not be decoded. what() says it in words: libjpeg's own message for damaged data
// ("Premature end of JPEG file"), or what kind of JPEG it is for one the decoder does not handle
// ("12-bit JPEG: not supported").
class JpegError : public RuntimeError {
public:
    enum class Kind {
        Damaged,     // not a JPEG, or its data is broken or ends early
        Unsupported, // a valid JPEG of a kind libjpeg does not decode (12-bit, lossless, DNL)
        TooLarge,    // more pixels than the budget allows
    };
    JpegError(Kind kind, const std::string &what) : RuntimeError(what), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct JpegDecodeOptions {
    // 1, 2, 4 or 8: the picture at 1/scale of its size, each side rounded up.
    int scale = 1;
    // Only the MCUs that meet this rectangle (in pixels of the picture at that scale, in the
    // file's stored frame, before any EXIF orientation); empty: the whole picture.
    QRect region;
    // The most decoded pixel data allowed, at 4 bytes a pixel; libjpeg's own working memory
    // (a progressive file's coefficients) is held to it too.
    qint64 maxDecodedBytes = qint64(2048) * 1024 * 1024;
    // The EXIF orientation (1 to 8) to turn the picture upright by, as it is decoded: each band of
    // rows goes straight to its place in the turned picture, so no second picture is made.
    int orientation = 1;
};

struct JpegDecoded {
    // Format_RGB32, with the file's colour profile as its colour space when Qt can use one
    // (sRGB for a CMYK photo, whose colours are converted).
    QImage image;
    // Where the image lies in the (scaled) stored frame: the whole frame, or the region widened
    // to whole MCUs and clipped to the frame. The image is this part turned upright.
    QRect covered;
    // The size of the whole (scaled) stored frame.
    QSize frame;
    // Warnings libjpeg gave on data it could read past (extraneous bytes, an unknown Adobe
    // transform code, ...), in its words.
    QStringList warnings;
};

// The rectangle of the stored frame (of the given size) that shows at `upright` once the picture is
// turned by the EXIF orientation, and the reverse.
QRect StoredRect(const QRect &upright, QSize frame, int orientation);
QRect UprightRect(const QRect &stored, QSize frame, int orientation);

// Decodes the JPEG held in `file` (the whole file). Data that is damaged where the pixels come
// from (a scan that ends early, a marker in the middle of the data, bad Huffman codes) is an
// error, not a picture with grey parts. Throws JpegError.
JpegDecoded DecodeJpeg(QByteArrayView file, const JpegDecodeOptions &options = {});
