#pragma once

#include "workspace/SourceFile.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <functional>

// A picture as loaded from a file: its pixels (with the file's embedded colour profile as their
// colour space, when it has one Qt can use), its size in HiMetric units (0.01 mm), and for a JPEG
// its camera data (see ReadJpegExif). A HEIF or JPEG XL photo's camera data, XMP and profile come
// as a JPEG's would, the head made of them (MetadataHead), so that saves carry them alike.
struct LoadedPicture {
    QImage image;
    QSize himetric;
    QByteArray exif;
    // For a JPEG: the head of the file, every marker segment before its compressed data.
    // For a HEIF or JPEG XL photo: a head holding its metadata (MetadataHead).
    QByteArray jpegHead;
    // For a JPEG loaded for the window: the fingerprint of the very bytes decoded.
    SourceFingerprint jpegFile;
};

// What the window adds to a load: a JPEG's fingerprint taken from the bytes it decodes, and a
// quick first view of a big photo.
struct WindowLoad {
    // The part of the upright picture that shows first: the viewport's size, at the top left.
    QSize firstViewArea;
    // Gets the pixels of that part (at the picture's top left) and the whole picture's size, on
    // the loading thread, while the whole picture is still being decoded. It is not called for
    // pictures that decode quickly anyway, nor when the first view cannot be made.
    std::function<void(const QImage &part, QSize whole)> showFirstView;
};

// The most decoded pixel data a picture may claim, in bytes (2 GB).
constexpr qint64 MaxDecodedPictureBytes = qint64(2048) * 1024 * 1024;

// Loads a BMP, JPG, GIF, ICO, WMF, PNG, TIFF, WebP, HEIC/HEIF, AVIF or JPEG XL file (the format is
// read from the file's content; the orientation is applied (EXIF, or the HEIF container's or the
// JPEG XL codestream's); transparent parts are shown on white). An empty
// path gives an empty picture. A file that cannot be read throws a RuntimeError whose text says
// why ("File not found", "Invalid picture", "Out of memory", ...); a JPEG whose image data ends
// early or is damaged is such a file, and a JPEG of a kind the decoder does not handle is named
// ("12-bit JPEG: not supported"). Damage the decoders read past (a wrong file-size or density
// field, bytes after the image, pixels the data leaves out, which stay background) does not stop a
// load: the picture then has the size its header gives. A raster picture of more than
// maxDecodedBytes (at 4 bytes a pixel) is refused with "Out of memory"; the fuzzers give a
// smaller budget, so that time goes to finding faults rather than to filling legal gigabytes.
// With `window`, a JPEG is also fingerprinted, and a big one is shown in part first (WindowLoad).
LoadedPicture LoadPicture(const QString &path, qint64 maxDecodedBytes = MaxDecodedPictureBytes,
                          const WindowLoad *window = nullptr);

// The HiMetric size of a picture of the given pixel size on a 96 dots-per-inch screen.
QSize PixelsToHimetric(QSize pixels);
