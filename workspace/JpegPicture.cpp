#include "workspace/JpegPicture.h"

#include "app/ErrorReport.h"
#include "save/ExifEdit.h"
#include "save/JpegHeader.h"
#include "workspace/CameraData.h"
#include "workspace/JpegDecoder.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <exception>
#include <thread>

namespace {

// Photos of fewer pixels decode quickly enough as they are.
constexpr qint64 FirstViewPixels = qint64(8) * 1000 * 1000;
// Upsampled colour differs at the sides of a part decoded alone, where its neighbours are
// missing: the part reaches this far (more than an MCU) beyond the area shown first.
constexpr int FirstViewMargin = 32;

JpegDecoded DecodeForLoad(const QByteArray &bytes, const JpegDecodeOptions &options) {
    try {
        return DecodeJpeg(bytes, options);
    } catch (const JpegError &e) {
        switch (e.kind()) {
        case JpegError::Kind::TooLarge:
            throw RuntimeError("Out of memory");
        case JpegError::Kind::Unsupported:
            throw RuntimeError(e.what());
        case JpegError::Kind::Damaged:
            break;
        }
        throw RuntimeError("Invalid picture");
    }
}

// The part of a big photo the window shows first, decoded alone (only the MCUs under it) and
// handed over; nothing when it would not come sooner than the whole photo: a small photo, or a
// progressive one (whose every scan must be read before any pixel). A first view that cannot be
// made is left out: the whole decode says what is wrong with the file.
void ShowFirstView(const QByteArray &bytes, const JpegHeader &header,
                   const JpegDecodeOptions &options, const WindowLoad &window) {
    if (!window.showFirstView || window.firstViewArea.isEmpty() || !header.valid ||
        header.progressive || qint64(header.width) * qint64(header.height) < FirstViewPixels) {
        return;
    }
    const QSize frame(header.width, header.height);
    JpegDecodeOptions part = options;
    part.region =
        StoredRect(QRect(QPoint(0, 0), window.firstViewArea), frame, options.orientation)
            .adjusted(-FirstViewMargin, -FirstViewMargin, FirstViewMargin, FirstViewMargin)
            .intersected(QRect(QPoint(0, 0), frame));
    try {
        const JpegDecoded first = DecodeJpeg(bytes, part);
        if (first.image.isNull() || first.frame != frame ||
            UprightRect(first.covered, frame, options.orientation).topLeft() != QPoint(0, 0)) {
            return;
        }
        const bool sidesSwap = options.orientation >= 5 && options.orientation <= 8;
        window.showFirstView(first.image, sidesSwap ? frame.transposed() : frame);
    } catch (const std::exception &) {
    }
}

} // namespace

// The file's bytes are read once: the pixels are decoded from them straight into the picture,
// turned upright in the same pass as its EXIF orientation says; its camera data and head come
// from the same bytes. For the window the whole photo is decoded on a thread of its own while
// this one shows the first view of a big photo and fingerprints the bytes. Damaged data is an
// invalid picture; a kind of JPEG libjpeg does not decode is named.
LoadedPicture LoadJpegPicture(QFile &file, qint64 maxDecodedBytes, const WindowLoad *window) {
    if (file.size() > maxDecodedBytes) {
        throw RuntimeError("Out of memory");
    }
    const QDateTime modified = QFileInfo(file).lastModified();
    const QByteArray bytes = file.readAll();
    LoadedPicture picture;
    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        picture.exif = ReadJpegExif(buffer);
        buffer.seek(0);
        picture.jpegHead = ReadJpegHead(buffer);
    }
    JpegDecodeOptions options;
    options.maxDecodedBytes = maxDecodedBytes;
    options.orientation = ExifOrientation(picture.exif);
    JpegDecoded decoded;
    if (window == nullptr) {
        decoded = DecodeForLoad(bytes, options);
    } else {
        std::exception_ptr failure;
        {
            const std::jthread whole([&] {
                try {
                    decoded = DecodeForLoad(bytes, options);
                } catch (...) {
                    failure = std::current_exception();
                }
            });
            ShowFirstView(bytes, ReadJpegHeader(picture.jpegHead), options, *window);
            picture.jpegFile = FingerprintOfBytes(bytes, modified);
        }
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
    picture.image = std::move(decoded.image);
    picture.himetric = PixelsToHimetric(picture.image.size());
    return picture;
}
