#include "save/JpegHeader.h"

#include "save/ExifEdit.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr quint8 StartOfImage = 0xD8;
constexpr quint8 EndOfImage = 0xD9;
constexpr quint8 StartOfScan = 0xDA;
constexpr quint8 DefineQuantTables = 0xDB;
constexpr quint8 DefineRestart = 0xDD;
constexpr quint8 AdobeApp = 0xEE;
constexpr quint8 Comment = 0xFE;

// Where the k-th coefficient of the zigzag order sits in the 8 x 8 block, row by row.
constexpr std::array<int, 64> ZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The example tables of the JPEG standard that libjpeg scales by quality, in natural order.
constexpr std::array<int, 64> StandardLuma = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> StandardChroma = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

bool isFrameMarker(quint8 m) {
    // SOF0..SOF15 but for DHT (C4), JPG (C8) and DAC (CC).
    return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
}

// Markers that stand alone, without a length and a payload.
bool standsAlone(quint8 m) {
    return m == 0x01 || (m >= 0xD0 && m <= 0xD7);
}

int byteAt(const QByteArray &data, qsizetype i) {
    return quint8(data[i]);
}
int wordAt(const QByteArray &data, qsizetype i) {
    return byteAt(data, i) << 8 | byteAt(data, i + 1);
}

// Reads the tables of one DQT payload into `tables` (by table number); false when it runs short.
bool readQuantTables(const QByteArray &p, std::array<QList<quint16>, 4> &tables) {
    qsizetype at = 0;
    while (at < p.size()) {
        const int precision = byteAt(p, at) >> 4, number = byteAt(p, at) & 15;
        const int width = precision ? 2 : 1;
        if (number > 3 || at + 1 + 64 * width > p.size()) {
            return false;
        }
        QList<quint16> table(64);
        for (int k = 0; k < 64; ++k) {
            const qsizetype v = at + 1 + k * width;
            table[ZigzagToNatural[k]] = quint16(width == 2 ? wordAt(p, v) : byteAt(p, v));
        }
        tables[number] = table;
        at += 1 + 64 * width;
    }
    return true;
}

bool readFrame(const QByteArray &p, quint8 marker, JpegHeader &h, QList<int> &tableOf) {
    if (p.size() < 6) {
        return false;
    }
    h.precision = byteAt(p, 0);
    h.height = wordAt(p, 1);
    h.width = wordAt(p, 3);
    h.components = byteAt(p, 5);
    if (h.components < 1 || h.components > 4 || p.size() < 6 + 3 * h.components) {
        return false;
    }
    for (int c = 0; c < h.components; ++c) {
        const int hv = byteAt(p, 6 + 3 * c + 1);
        h.sampling << QPoint(hv >> 4, hv & 15);
        tableOf << (byteAt(p, 6 + 3 * c + 2) & 3);
    }
    h.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
    h.arithmetic = marker >= 0xC9;
    return true;
}

} // namespace

int JpegHeader::mcuWidth() const {
    int most = 1;
    for (const QPoint &s : sampling) {
        most = std::max(most, s.x());
    }
    return components <= 1 ? 8 : 8 * most;
}

int JpegHeader::mcuHeight() const {
    int most = 1;
    for (const QPoint &s : sampling) {
        most = std::max(most, s.y());
    }
    return components <= 1 ? 8 : 8 * most;
}

JpegHeader ReadJpegHeader(const QByteArray &file) {
    JpegHeader h;
    if (file.size() < 4 || byteAt(file, 0) != 0xFF || byteAt(file, 1) != StartOfImage) {
        return h;
    }
    std::array<QList<quint16>, 4> tables;
    QList<int> tableOf;
    bool haveFrame = false;
    qsizetype at = 2;
    for (;;) {
        if (at >= file.size() || byteAt(file, at) != 0xFF) {
            return h;
        }
        // Any number of fill bytes may come before the marker itself.
        while (at < file.size() && byteAt(file, at) == 0xFF) {
            ++at;
        }
        if (at >= file.size()) {
            return h;
        }
        const quint8 marker = quint8(byteAt(file, at++));
        if (standsAlone(marker)) {
            continue;
        }
        if (marker == EndOfImage || marker == StartOfImage || at + 2 > file.size()) {
            return h;
        }
        const int length = wordAt(file, at); // counts its own two bytes
        if (length < 2 || at + length > file.size()) {
            return h;
        }
        const QByteArray payload = file.mid(at + 2, length - 2);
        at += length;
        if (marker == StartOfScan) {
            break;
        }
        if (isFrameMarker(marker)) {
            if (haveFrame || !readFrame(payload, marker, h, tableOf)) {
                return h;
            }
            haveFrame = true;
        } else if (marker == DefineQuantTables) {
            if (!readQuantTables(payload, tables)) {
                return h;
            }
        } else if (marker == DefineRestart) {
            if (payload.size() < 2) {
                return h;
            }
            h.restartInterval = wordAt(payload, 0);
        } else if ((marker >= 0xE0 && marker <= 0xEF) || marker == Comment) {
            h.segments << JpegSegment{marker, payload};
            if (marker == AdobeApp && h.adobeTransform < 0 && payload.size() >= 12 &&
                payload.startsWith("Adobe")) {
                h.adobeTransform = byteAt(payload, 11);
            }
        }
    }
    if (!haveFrame) {
        return h;
    }
    h.lumaQuantTable = tables[tableOf.value(0)];
    if (h.components > 1) {
        h.chromaQuantTable = tables[tableOf.value(1)];
    }
    h.quantTableOf = tableOf;
    for (const JpegSegment &s : std::as_const(h.segments)) {
        if (s.marker == 0xE1 && s.payload.startsWith(QByteArray("Exif\0\0", 6))) {
            h.orientation = ExifOrientation(s.payload);
            break;
        }
    }
    h.valid = true;
    return h;
}

int EstimateJpegQuality(const JpegHeader &header) {
    double sum = 0;
    int count = 0;
    const auto add = [&](const QList<quint16> &table, const std::array<int, 64> &standard) {
        for (int i = 0; i < table.size() && i < 64; ++i) {
            sum += 100.0 * table[i] / standard[i];
            ++count;
        }
    };
    add(header.lumaQuantTable, StandardLuma);
    if (header.quantTableOf.value(1, -1) != header.quantTableOf.value(0, -1)) {
        add(header.chromaQuantTable, StandardChroma);
    }
    if (count == 0) {
        return 0;
    }
    const double scale = sum / count;
    const double quality = scale <= 100 ? (200 - scale) / 2 : 5000 / scale;
    return std::clamp(int(std::lround(quality)), 1, 100);
}
