// Helpers shared by the tests of the JPG converter (test_converter*.cpp): running the built
// converter, writing bitmaps byte by byte, and measuring how far two pictures differ.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QtEndian>

#include <cmath>
#include <cstdlib>
#include <limits>

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

} // namespace convertertest
