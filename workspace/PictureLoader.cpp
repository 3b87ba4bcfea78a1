#include "workspace/PictureLoader.h"

#include "app/ErrorReport.h"
#include "workspace/MetafilePlayer.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

namespace {

constexpr int ScreenDpi = 96;

// Formats the program reads; anything else is not a picture to it.
bool isAcceptedFormat(const QByteArray &format) {
    return format == "bmp" || format == "jpeg" || format == "jpg" || format == "gif" ||
           format == "ico" || format == "cur";
}

// Transparent parts of icons and GIFs are shown on white, as the viewport is.
QImage flatten(QImage image) {
    if (!image.hasAlphaChannel()) {
        return image.format() == QImage::Format_RGB32 ? image
                                                      : image.convertToFormat(QImage::Format_RGB32);
    }
    QImage flat(image.size(), QImage::Format_RGB32);
    if (flat.isNull()) {
        throw RuntimeError("Out of memory");
    }
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

LoadedPicture loadRaster(const QString &path) {
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format().toLower();
    if (format.isEmpty() || !isAcceptedFormat(format)) {
        throw RuntimeError("Invalid picture");
    }
    const QSize claimed = reader.size();
    if (claimed.isValid() &&
        qint64(claimed.width()) * qint64(claimed.height()) * 4 > MaxDecodedPictureBytes) {
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
    picture.image = flatten(image);
    picture.himetric = PixelsToHimetric(picture.image.size());
    return picture;
}

} // namespace

QSize PixelsToHimetric(QSize pixels) {
    auto convert = [](int px) {
        return int((qint64(px) * 2540 + ScreenDpi / 2) / ScreenDpi);
    };
    return QSize(convert(pixels.width()), convert(pixels.height()));
}

LoadedPicture LoadPicture(const QString &path) {
    if (path.isEmpty()) {
        return {};
    }
    // Qt's own limit (128 MB) is far too small for photos; ours is checked per file above.
    QImageReader::setAllocationLimit(int(MaxDecodedPictureBytes / (1024 * 1024)));
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
            MetafilePicture played = playMetafile(bytes);
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
    file.close();
    return loadRaster(path);
}
