// Helpers of the metadata tests: exiftool's readings of a file, and JPEGs of test pictures with
// segments of the test's choosing.
#pragma once

#include "ConverterTestTools.h"
#include "save/JpegHeader.h"

#include <QBuffer>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace metadatatest {

const QByteArray ExifStart("Exif\0\0", 6);
const QByteArray XmpStart("http://ns.adobe.com/xap/1.0/\0", 29);

// The output of a tool, or empty text when it is missing or fails.
inline QString toolOutput(const QString &tool, const QStringList &args) {
    QProcess process;
    process.start(tool, args);
    if (!process.waitForFinished(60000)) {
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}
inline QByteArray exiftoolBinary(const QString &tag, const QString &file) {
    QProcess process;
    process.start("exiftool", {"-b", "-" + tag, file});
    process.waitForFinished(60000);
    return process.readAllStandardOutput();
}
// exiftool's numeric values of the tags (group-qualified names like IFD0:Orientation), one a line.
inline QStringList exiftoolValues(const QString &file, const QStringList &tags) {
    QStringList args{"-n", "-s3", "-f"};
    for (const QString &tag : tags) {
        args << "-" + tag;
    }
    return toolOutput("exiftool", args << file).split('\n');
}

// A JPEG of the picture with the segments right after its start, as a saved file holds them.
inline QString jpegWith(const QTemporaryDir &dir, const QString &name,
                        const QList<JpegSegment> &segments, const QImage &picture) {
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    picture.save(&encoded, "JPG", 90);
    QByteArray head("\xFF\xD8", 2);
    for (const JpegSegment &s : segments) {
        const int length = int(s.payload.size()) + 2;
        head += QByteArray("\xFF") + char(s.marker) + char(length >> 8) + char(length & 0xFF);
        head += s.payload;
    }
    const QString path = dir.filePath(name);
    convertertest::writeFile(path, head + encoded.data().mid(2));
    return path;
}

// A saved picture: grey, or colour noise that compresses badly, with a red square at top left.
inline QImage savedPicture(QSize size, bool noisy) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::gray);
    if (noisy) {
        // Cells of three pixels, so that the noise outlives the scaling down to a thumbnail.
        QImage cells(size / 3, QImage::Format_RGB32);
        QRandomGenerator random(17);
        for (int y = 0; y < cells.height(); ++y) {
            for (int x = 0; x < cells.width(); ++x) {
                cells.setPixel(x, y, random.generate() | 0xFF000000u);
            }
        }
        picture = cells.scaled(size);
    }
    QPainter(&picture).fillRect(0, 0, size.width() / 3, size.width() / 3, Qt::red);
    return picture;
}

inline bool reddish(QRgb c) {
    return qRed(c) > 180 && qGreen(c) < 90 && qBlue(c) < 90;
}

} // namespace metadatatest
