#include "workspace/PictureLoader.h"

#include "app/ErrorReport.h"
#include "workspace/CameraData.h"
#include "workspace/GifCanvas.h"
#include "workspace/JpegPicture.h"
#include "workspace/MetafilePlayer.h"
#include "workspace/PhotoFormats.h"
#include "workspace/SourceFile.h"

#include "BmpReader.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QRegion>
#include <QTransform>
#include <QtEndian>
#include <vector>

namespace {

constexpr int ScreenDpi = 96;
// The largest HEIF or JPEG XL file read: they are read whole, and compress photos far below this.
constexpr qint64 MaxPhotoFileBytes = qint64(1) << 30;

// Formats the program reads, told by the file's content whatever its name: a PNG named .jpg or
// .bmp loads as the PNG it is. Anything else is not a picture to it.
bool isAcceptedFormat(const QByteArray &format) {
    return format == "bmp" || format == "jpeg" || format == "jpg" || format == "gif" ||
           format == "ico" || format == "cur" || format == "png" || format == "tiff" ||
           format == "tif" || format == "webp";
}

// Transparent parts of icons, GIFs, PNGs and the like are shown on white, as the viewport is.
// The picture's colour space goes along unchanged: its pixels are never converted to another.
QImage flatten(QImage image) {
    if (!image.hasAlphaChannel()) {
        return image.format() == QImage::Format_RGB32 ? image
                                                      : image.convertToFormat(QImage::Format_RGB32);
    }
    QImage flat(image.size(), QImage::Format_RGB32);
    if (flat.isNull()) {
        throw RuntimeError("Out of memory");
    }
    flat.setColorSpace(image.colorSpace());
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

// The picture turned the right way up as its orientation (EXIF, TIFF) says, as Qt's readers turn
// it, keeping its colour space.
QImage oriented(QImage image, QImageIOHandler::Transformations turn) {
    if (turn == QImageIOHandler::TransformationNone) {
        return image;
    }
    const QColorSpace space = image.colorSpace();
    const bool mirror = turn.testFlag(QImageIOHandler::TransformationMirror);
    const bool flip = turn.testFlag(QImageIOHandler::TransformationFlip);
    if (mirror || flip) {
        image = image.mirrored(mirror, flip);
    }
    if (turn.testFlag(QImageIOHandler::TransformationRotate90)) {
        image = image.transformed(QTransform().rotate(90));
    }
    if (image.isNull()) {
        throw RuntimeError("Out of memory");
    }
    image.setColorSpace(space);
    return image;
}

// A GIF's canvas is transparent where its first image does not cover it, as today's viewers show
// it, whatever background colour the file names (Qt's reader paints that colour there): those
// parts are shown on white like every transparent part.
void clearAroundFirstImage(QImage &canvas, const QRect &first) {
    if (!first.isValid() || first.contains(canvas.rect())) {
        return;
    }
    const QRect covered = first.intersected(canvas.rect());
    QPainter painter(&canvas);
    const QRegion uncovered = QRegion(canvas.rect()).subtracted(QRegion(covered));
    for (const QRect &part : uncovered) {
        painter.fillRect(part, Qt::white);
    }
}

// Bitmaps go through our own reader, which takes every header size and compression that
// Windows programs write (Qt's own misses several) and refuses broken files outright.
bool looksLikeBitmap(const QByteArray &head) {
    if (head.startsWith("BM")) {
        return true;
    }
    // A packed bitmap without its file header, as on the clipboard.
    if (head.size() < 16) {
        return false;
    }
    const auto *d = reinterpret_cast<const uchar *>(head.constData());
    const quint32 headerSize = qFromLittleEndian<quint32>(d);
    const quint16 planes =
        headerSize == 12 ? qFromLittleEndian<quint16>(d + 8) : qFromLittleEndian<quint16>(d + 12);
    return (headerSize == 12 || headerSize == 40 || headerSize == 52 || headerSize == 56 ||
            headerSize == 64 || headerSize == 108 || headerSize == 124) &&
           planes == 1;
}

LoadedPicture loadBitmap(const QByteArray &bytes, qint64 maxDecodedBytes) {
    try {
        // Our budget goes to the reader, which then refuses a larger bitmap before decoding any
        // of it.
        const bmp::Image bitmap = bmp::read(
            std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                                          size_t(bytes.size())),
            std::uint64_t(maxDecodedBytes / 4));
        QImage image(bitmap.width(), bitmap.height(), QImage::Format_RGB32);
        if (image.isNull()) {
            throw RuntimeError("Out of memory");
        }
        std::vector<std::uint8_t> scratch(bitmap.rowBytes());
        for (int y = 0; y < bitmap.height(); ++y) {
            const std::uint8_t *row = bitmap.row(y, scratch.data());
            auto *out = reinterpret_cast<QRgb *>(image.scanLine(y));
            const int step = bitmap.bytesPerPixel();
            for (int x = 0; x < bitmap.width(); ++x, row += step) {
                switch (bitmap.format()) {
                case bmp::RowFormat::Bgr:
                case bmp::RowFormat::Bgrx:
                    out[x] = qRgb(row[2], row[1], row[0]);
                    break;
                case bmp::RowFormat::Rgbx:
                    out[x] = qRgb(row[0], row[1], row[2]);
                    break;
                case bmp::RowFormat::Xbgr:
                    out[x] = qRgb(row[3], row[2], row[1]);
                    break;
                case bmp::RowFormat::Xrgb:
                    out[x] = qRgb(row[1], row[2], row[3]);
                    break;
                }
            }
        }
        const std::span<const std::uint8_t> profile = bitmap.profile();
        if (!profile.empty()) {
            // A profile Qt cannot use (not RGB, or broken) leaves the picture without one.
            image.setColorSpace(QColorSpace::fromIccProfile(QByteArray(
                reinterpret_cast<const char *>(profile.data()), qsizetype(profile.size()))));
        }
        LoadedPicture picture;
        picture.image = image;
        picture.himetric = PixelsToHimetric(image.size());
        return picture;
    } catch (const bmp::TooLarge &) {
        throw RuntimeError("Out of memory");
    } catch (const bmp::Error &) {
        throw RuntimeError("Invalid picture");
    }
}

// A picture is refused for damage to what makes its pixels (a PNG's header, palette or image
// data), never for damage to what only describes it (a PNG's text, time or physical size chunks):
// libpng passes over those with a warning, and the text the reader did get is never written back
// (SaveFiles).
LoadedPicture loadRaster(const QString &path, qint64 maxDecodedBytes) {
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    // The orientation is applied here, not by the reader, whose turning drops the colour space.
    reader.setAutoTransform(false);
    const QByteArray format = reader.format().toLower();
    if (format.isEmpty() || !isAcceptedFormat(format)) {
        throw RuntimeError("Invalid picture");
    }
    const QSize claimed = reader.size();
    if (claimed.isValid() &&
        qint64(claimed.width()) * qint64(claimed.height()) * 4 > maxDecodedBytes) {
        throw RuntimeError("Out of memory");
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        if (reader.error() == QImageReader::InvalidDataError &&
            reader.errorString().contains(QStringLiteral("allocation"), Qt::CaseInsensitive)) {
            throw RuntimeError("Out of memory");
        }
        throw RuntimeError("Invalid picture");
    }
    LoadedPicture picture;
    picture.image = flatten(oriented(std::move(image), reader.transformation()));
    picture.himetric = PixelsToHimetric(picture.image.size());
    if (format == "gif") {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            clearAroundFirstImage(picture.image, FirstGifImageRect(file));
        }
    }
    return picture;
}

} // namespace

QSize PixelsToHimetric(QSize pixels) {
    auto convert = [](int px) { return int((qint64(px) * 2540 + ScreenDpi / 2) / ScreenDpi); };
    return QSize(convert(pixels.width()), convert(pixels.height()));
}

LoadedPicture LoadPicture(const QString &path, qint64 maxDecodedBytes, const WindowLoad *window) {
    if (path.isEmpty()) {
        return {};
    }
    // Qt's own limit (128 MB) is far too small for photos; ours is checked per file above.
    QImageReader::setAllocationLimit(int(maxDecodedBytes / (1024 * 1024)));
    const QFileInfo info(path);
    if (!info.exists()) {
        throw RuntimeError("File not found");
    }
    if (info.isDir()) {
        throw RuntimeError("Path/File access error");
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError("Permission denied");
    }
    const QByteArray head = file.peek(64);
    if (looksLikeMetafile(head)) {
        constexpr qint64 maxMetafileBytes = qint64(256) * 1024 * 1024;
        if (file.size() > maxMetafileBytes) {
            throw RuntimeError("Invalid picture");
        }
        const QByteArray bytes = file.readAll();
        try {
            MetafilePicture played = playMetafile(bytes, maxDecodedBytes / 4);
            LoadedPicture picture;
            picture.image = flatten(played.image);
            picture.himetric = played.himetric;
            return picture;
        } catch (const RuntimeError &) {
            throw;
        } catch (const std::exception &) {
            throw RuntimeError("Invalid picture");
        }
    }
    // HEIC, AVIF and JPEG XL, through the libraries made for them (PhotoFormats.h).
    const bool heif = IsHeifFile(head);
    if (heif || IsJpegXlFile(head)) {
        if (qint64(file.size()) > MaxPhotoFileBytes) {
            throw RuntimeError("Out of memory");
        }
        const QByteArray bytes = file.readAll();
        LoadedPicture picture = heif ? LoadHeifPicture(bytes, maxDecodedBytes)
                                     : LoadJpegXlPicture(bytes, maxDecodedBytes);
        picture.image = flatten(std::move(picture.image));
        picture.himetric = PixelsToHimetric(picture.image.size());
        return picture;
    }
    if (looksLikeBitmap(head)) {
        if (qint64(file.size()) > qint64(4) * 1024 * 1024 * 1024) {
            throw RuntimeError("Out of memory");
        }
        const QByteArray bytes = file.readAll();
        return loadBitmap(bytes, maxDecodedBytes);
    }
    if (head.startsWith("\xFF\xD8")) {
        return LoadJpegPicture(file, maxDecodedBytes, window);
    }
    file.close();
    return loadRaster(path, maxDecodedBytes);
}
