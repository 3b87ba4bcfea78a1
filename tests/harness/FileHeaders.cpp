#include "FileHeaders.h"

#include <QFile>
#include <QImageReader>
#include <QtEndian>
#include <cmath>

namespace {

bool isBitmapHeaderSize(quint32 size) {
    return size == 12 || (size >= 16 && size <= 64) || size == 108 || size == 124;
}

} // namespace

QByteArray FileStart(const QString &path, qint64 size) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(size) : QByteArray();
}

bool IsGifFile(const QByteArray &bytes) {
    return bytes.startsWith("GIF8");
}

// "BM" files and packed DIBs (an info header without the file header).
bool IsBitmapFile(const QByteArray &bytes) {
    if (bytes.startsWith("BM")) {
        return true;
    }
    return bytes.size() >= 4 && isBitmapHeaderSize(qFromLittleEndian<quint32>(bytes.constData())) &&
           !bytes.startsWith("GIF") && !bytes.startsWith("\x89PNG");
}

bool StoredExactly(const QString &path) {
    const QByteArray start = FileStart(path, 12);
    const bool jpeg = start.startsWith("\xFF\xD8");
    const bool webp = start.startsWith("RIFF") && start.mid(8, 4) == "WEBP";
    const bool tiff = start.startsWith("II*") || start.startsWith(QByteArray("MM\0*", 4));
    // HEIF and AVIF (an ISO media file) and JPEG XL (codestream or container).
    const bool media = start.mid(4, 4) == "ftyp" || start.startsWith("\xFF\x0A") ||
                       start.startsWith(QByteArray("\0\0\0\x0CJXL ", 8));
    return !jpeg && !webp && !tiff && !media;
}

QSize DeclaredSize(const QString &path) {
    const QByteArray bytes = FileStart(path, 64);
    const auto *d = reinterpret_cast<const uchar *>(bytes.constData());
    if (bytes.size() >= 16 && qFromLittleEndian<quint32>(d) == 0x9AC6CDD7) {
        const int width = qFromLittleEndian<qint16>(d + 10) - qFromLittleEndian<qint16>(d + 6);
        const int height = qFromLittleEndian<qint16>(d + 12) - qFromLittleEndian<qint16>(d + 8);
        const int inch = qFromLittleEndian<quint16>(d + 14);
        if (width <= 0 || height <= 0 || inch <= 0) {
            return {};
        }
        // To HiMetric units (0.01 mm), then to pixels at 96 dots per inch, each rounded.
        auto pixels = [inch](int units) {
            const qint64 himetric = std::llround(units * 2540.0 / inch);
            return int(std::max<qint64>(1, std::llround(himetric * 96.0 / 2540.0)));
        };
        return {pixels(width), pixels(height)};
    }
    if (IsGifFile(bytes) && bytes.size() >= 10) {
        return {qFromLittleEndian<quint16>(d + 6), qFromLittleEndian<quint16>(d + 8)};
    }
    if (IsBitmapFile(bytes)) {
        const qsizetype at = bytes.startsWith("BM") ? 14 : 0;
        if (bytes.size() < at + 12) {
            return {};
        }
        if (qFromLittleEndian<quint32>(d + at) == 12) {
            return {qFromLittleEndian<quint16>(d + at + 4), qFromLittleEndian<quint16>(d + at + 6)};
        }
        const qint64 height = qFromLittleEndian<qint32>(d + at + 8);
        return {qFromLittleEndian<qint32>(d + at + 4),
                int(std::min<qint64>(std::abs(height), INT_MAX))};
    }
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QSize size = reader.size();
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90)) {
        size.transpose();
    }
    return size;
}
