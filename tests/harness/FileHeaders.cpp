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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return true;
    }
    const QByteArray bytes = file.read(1 << 16);
    const auto *d = reinterpret_cast<const uchar *>(bytes.constData());
    if (bytes.startsWith("\xFF\xD8")) {
        return false;
    }
    if (bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP") {
        return !bytes.contains("VP8 ");
    }
    const bool little = bytes.startsWith("II*");
    if (!little && !bytes.startsWith(QByteArray("MM\0*", 4))) {
        return true;
    }
    auto u16 = [&](qsizetype at) {
        return little ? qFromLittleEndian<quint16>(d + at) : qFromBigEndian<quint16>(d + at);
    };
    auto u32 = [&](qsizetype at) {
        return little ? qFromLittleEndian<quint32>(d + at) : qFromBigEndian<quint32>(d + at);
    };
    const qsizetype ifd = bytes.size() >= 8 ? qsizetype(u32(4)) : bytes.size();
    if (ifd + 2 > bytes.size()) {
        return true;
    }
    const int count = u16(ifd);
    for (int i = 0; i < count && ifd + 2 + 12 * (i + 1) <= bytes.size(); ++i) {
        const qsizetype entry = ifd + 2 + 12 * i;
        const quint16 tag = u16(entry), value = u16(entry + 8);
        if ((tag == 262 && value == 6) || (tag == 259 && (value == 6 || value == 7))) {
            return false; // YCbCr pixels, or JPEG compression
        }
    }
    return true;
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

JpegFrame ReadJpegFrame(const QString &path) {
    JpegFrame frame;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return frame;
    }
    const QByteArray bytes = file.read(1 << 20);
    const auto *d = reinterpret_cast<const uchar *>(bytes.constData());
    if (bytes.size() < 4 || d[0] != 0xFF || d[1] != 0xD8) {
        return frame;
    }
    qsizetype at = 2;
    while (at + 4 <= bytes.size()) {
        if (d[at] != 0xFF) {
            return frame;
        }
        const uchar marker = d[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) {
            return frame;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const int length = qFromBigEndian<quint16>(d + at + 2);
        const bool startOfFrame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (startOfFrame && at + 5 <= bytes.size()) {
            frame.found = true;
            frame.lossless = marker == 0xC3 || marker == 0xC7 || marker == 0xCB || marker == 0xCF;
            frame.precision = d[at + 4];
            return frame;
        }
        at += 2 + length;
    }
    return frame;
}
