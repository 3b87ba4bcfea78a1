// Helpers shared by the tests of the JPG converter (test_converter*.cpp): running the built
// converter, writing bitmaps byte by byte, and measuring how far two pictures differ.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace convertertest {

inline QString converterPath() {
    return qEnvironmentVariable("GLYPHTACK_CONVERTER");
}

struct Run {
    bool finished = false; // ended on its own within the time limit
    bool crashed = false;
    int exitCode = -1;
    QByteArray errors; // stderr
};

inline Run runProgram(const QString &program, const QStringList &args, int timeoutMs = 60000) {
    QProcess process;
    process.start(program, args);
    Run run;
    if (!process.waitForStarted(timeoutMs))
        return run;
    run.finished = process.waitForFinished(timeoutMs);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.crashed = process.exitStatus() == QProcess::CrashExit;
    run.exitCode = process.exitCode();
    run.errors = process.readAllStandardError();
    return run;
}

inline bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline Run runConverter(const QStringList &args, int timeoutMs = 60000) {
    return runProgram(converterPath(), args, timeoutMs);
}

inline Run convert(const QString &input, const QString &output, int quality = 95,
                   int timeoutMs = 60000) {
    return runConverter({"-out", "jpeg", "-q", QString::number(quality), "-o", output, input},
                        timeoutMs);
}

// A refusal reports exactly one line on stderr.
inline bool isOneLine(const QByteArray &text) {
    return text.size() > 1 && text.endsWith('\n') && text.count('\n') == 1;
}

// Mean absolute difference per colour channel (0..255) of two same-sized pictures, alpha
// ignored. With `mask`, only pixels that are opaque in the mask count. Returns infinity when
// the sizes differ or no pixel counts.
inline double meanError(const QImage &a, const QImage &b, const QImage &mask = {}) {
    if (a.size() != b.size() || (!mask.isNull() && mask.size() != a.size()))
        return std::numeric_limits<double>::infinity();
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    const QImage m = mask.isNull() ? QImage() : mask.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    qint64 pixels = 0;
    for (int row = 0; row < x.height(); ++row) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        const QRgb *o = m.isNull() ? nullptr : reinterpret_cast<const QRgb *>(m.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            if (o && qAlpha(o[col]) != 255)
                continue;
            sum += std::abs(qRed(p[col]) - qRed(q[col])) +
                   std::abs(qGreen(p[col]) - qGreen(q[col])) +
                   std::abs(qBlue(p[col]) - qBlue(q[col]));
            ++pixels;
        }
    }
    return pixels ? sum / (3.0 * double(pixels)) : std::numeric_limits<double>::infinity();
}

inline int nearestEntry(QRgb c, const QList<QRgb> &palette) {
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(c) - qRed(palette[i]);
        const int dg = qGreen(c) - qGreen(palette[i]);
        const int db = qBlue(c) - qBlue(palette[i]);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

// What a bitmap of the given depth holds of `image`: palette colours for 1..8 bits (nearest
// entry), 5 bits a channel for 16 bits, the picture itself for 24 and 32 bits.
inline QImage storedPicture(const QImage &image, int bits, const QList<QRgb> &palette) {
    QImage out = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            if (bits <= 8) {
                line[x] = palette[nearestEntry(line[x], palette)];
            } else if (bits == 16) {
                const auto five = [](int c) { return ((c * 31 + 127) / 255 * 255 + 15) / 31; };
                line[x] = qRgb(five(qRed(line[x])), five(qGreen(line[x])), five(qBlue(line[x])));
            }
        }
    }
    return out;
}

// An uncompressed BMP (14-byte file header, 40-byte BITMAPINFOHEADER, BI_RGB) of `image` at
// 1, 4, 8 (with `palette`), 16 (5-5-5), 24 or 32 bits per pixel, bottom-up unless `topDown`.
inline QByteArray encodeBmp(const QImage &image, int bits, bool topDown,
                            const QList<QRgb> &palette = {}) {
    const QImage src = image.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    const int stride = (w * bits + 31) / 32 * 4;
    const int paletteBytes = bits <= 8 ? int(palette.size()) * 4 : 0;
    const int offset = 14 + 40 + paletteBytes;
    QByteArray file(offset + stride * h, '\0');
    uchar *d = reinterpret_cast<uchar *>(file.data());
    d[0] = 'B';
    d[1] = 'M';
    qToLittleEndian<quint32>(quint32(file.size()), d + 2);
    qToLittleEndian<quint32>(quint32(offset), d + 10);
    qToLittleEndian<quint32>(40, d + 14);
    qToLittleEndian<qint32>(w, d + 18);
    qToLittleEndian<qint32>(topDown ? -h : h, d + 22);
    qToLittleEndian<quint16>(1, d + 26);
    qToLittleEndian<quint16>(quint16(bits), d + 28);
    qToLittleEndian<quint32>(bits <= 8 ? quint32(palette.size()) : 0, d + 46);
    for (int i = 0; i < paletteBytes / 4; ++i) {
        d[54 + 4 * i] = uchar(qBlue(palette[i]));
        d[55 + 4 * i] = uchar(qGreen(palette[i]));
        d[56 + 4 * i] = uchar(qRed(palette[i]));
    }
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(src.constScanLine(y));
        uchar *row = d + offset + stride * (topDown ? y : h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const QRgb c = line[x];
            if (bits <= 8) {
                const int index = nearestEntry(c, palette);
                row[x * bits / 8] |= uchar(index << (8 - bits - (x * bits) % 8));
            } else if (bits == 16) {
                const int v = (qRed(c) * 31 + 127) / 255 << 10 | (qGreen(c) * 31 + 127) / 255 << 5 |
                              (qBlue(c) * 31 + 127) / 255;
                qToLittleEndian<quint16>(quint16(v), row + 2 * x);
            } else {
                uchar *p = row + x * bits / 8;
                p[0] = uchar(qBlue(c));
                p[1] = uchar(qGreen(c));
                p[2] = uchar(qRed(c));
            }
        }
    }
    return file;
}

// The marker segments of a JPEG file before its scan: (marker, payload without the length).
inline QList<std::pair<int, QByteArray>> jpegSegments(const QByteArray &jpeg) {
    QList<std::pair<int, QByteArray>> segments;
    const auto *d = reinterpret_cast<const uchar *>(jpeg.constData());
    qsizetype i = 2;
    while (i + 4 <= jpeg.size() && d[i] == 0xFF && d[i + 1] != 0xDA) {
        const int length = d[i + 2] << 8 | d[i + 3];
        segments.append({d[i + 1], jpeg.mid(i + 4, length - 2)});
        i += 2 + length;
    }
    return segments;
}

// The ICC profile of a JPEG as readers put it together from its APP2 "ICC_PROFILE" markers:
// each marker carries its number, counted from 1, and the count of markers. A profile whose
// numbers do not run from 1 to the count, each once, is dropped as readers drop it.
inline QByteArray iccProfileOf(const QByteArray &jpeg, int *markers = nullptr) {
    QMap<int, QByteArray> pieces;
    int count = -1;
    bool sound = true;
    for (const auto &[marker, payload] : jpegSegments(jpeg)) {
        if (marker == 0xE2 && payload.startsWith(QByteArray("ICC_PROFILE\0", 12))) {
            const int number = uchar(payload.at(12));
            sound =
                sound && (count < 0 || count == uchar(payload.at(13))) && !pieces.contains(number);
            count = uchar(payload.at(13));
            pieces.insert(number, payload.mid(14));
        }
    }
    if (markers != nullptr)
        *markers = int(pieces.size());
    if (pieces.isEmpty() || !sound || pieces.size() != count || pieces.firstKey() != 1 ||
        pieces.lastKey() != count)
        return {};
    QByteArray profile;
    for (const QByteArray &piece : pieces)
        profile += piece;
    return profile;
}

// The APP1 EXIF block of a JPEG (from "Exif\0\0" on), or nothing.
inline QByteArray exifOf(const QByteArray &jpeg) {
    for (const auto &[marker, payload] : jpegSegments(jpeg)) {
        if (marker == 0xE1 && payload.startsWith(QByteArray("Exif\0\0", 6)))
            return payload;
    }
    return {};
}

// A camera's EXIF block in either byte order: Make "Pellorin", Model "Glyphcam 7", the given
// Orientation, and in the EXIF directory DateTimeOriginal "2024:05:06 07:08:09". The
// Orientation's value sits at kOrientationValueAt from the block's start.
inline constexpr int kOrientationValueAt = 6 + 8 + 2 + 2 * 12 + 8;
inline QByteArray exifBlock(bool bigEndian, quint16 orientation) {
    QByteArray tiff;
    const auto put16 = [&](quint16 v) {
        tiff += bigEndian ? char(v >> 8) : char(v & 0xff);
        tiff += bigEndian ? char(v & 0xff) : char(v >> 8);
    };
    const auto put32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            tiff += char(v >> (bigEndian ? 8 * (3 - i) : 8 * i));
    };
    const QByteArray make("Pellorin\0", 9), model("Glyphcam 7\0", 11);
    const QByteArray date("2024:05:06 07:08:09\0", 20);
    // Header, then IFD0 with four entries at 8, its data at 62, the EXIF directory after it.
    const quint32 data = 8 + 2 + 4 * 12 + 4;
    const quint32 exifDirectory = data + quint32(make.size() + model.size());
    tiff += bigEndian ? "MM" : "II";
    put16(42);
    put32(8);
    put16(4);
    put16(0x010F), put16(2), put32(quint32(make.size())), put32(data);
    put16(0x0110), put16(2), put32(quint32(model.size())), put32(data + quint32(make.size()));
    put16(0x0112), put16(3), put32(1), put16(orientation), put16(0);
    put16(0x8769), put16(4), put32(1), put32(exifDirectory);
    put32(0);
    tiff += make + model;
    put16(1);
    put16(0x9003), put16(2), put32(quint32(date.size())), put32(exifDirectory + 2 + 12 + 4);
    put32(0);
    tiff += date;
    return QByteArray("Exif\0\0", 6) + tiff;
}

// A camera's JPEG: the picture encoded at quality 95 (with its colour space's profile), the
// EXIF block in an APP1 segment right after the start of the image.
inline QByteArray cameraJpeg(const QImage &photo, const QByteArray &exif) {
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    if (!photo.save(&encoded, "JPG", 95))
        return {};
    QByteArray jpeg = encoded.data();
    jpeg.insert(2, QByteArray("\xFF\xE1", 2) + char((exif.size() + 2) >> 8) +
                       char((exif.size() + 2) & 0xff) + exif);
    return jpeg;
}

} // namespace convertertest
