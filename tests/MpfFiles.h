// Photos holding more than one picture, as phones and cameras write them, made here byte by
// byte; and their Multi-Picture Format index read back with a reader of the tests' own.
#pragma once

#include "ConverterTestTools.h"
#include "JpegBlocks.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QtEndian>

namespace mpf {

inline QByteArray segment(int marker, const QByteArray &payload) {
    const int length = int(payload.size()) + 2;
    return QByteArray(1, char(0xFF)) + char(marker) + char(length >> 8) + char(length & 0xFF) +
           payload;
}

inline QByteArray le32(quint32 v) {
    QByteArray out(4, '\0');
    qToLittleEndian(v, out.data());
    return out;
}
inline QByteArray le16(quint16 v) {
    QByteArray out(2, '\0');
    qToLittleEndian(v, out.data());
    return out;
}

const QByteArray XmpGainMap = QByteArrayLiteral(
    "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
    "hdrgm:Version=\"1.0\"><Container:Directory><rdf:Seq><rdf:li "
    "rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"Primary\" "
    "Item:Mime=\"image/jpeg\"/></rdf:li><rdf:li rdf:parseType=\"Resource\">"
    "<Container:Item Item:Semantic=\"GainMap\" Item:Mime=\"image/jpeg\"/>"
    "</rdf:li></rdf:Seq></Container:Directory></rdf:Description></rdf:RDF>"
    "</x:xmpmeta>");
const QByteArray IsoGainMap = QByteArrayLiteral("urn:iso:std:iso:ts:21496:-1\0\0\0\0\0");

struct Photo {
    QByteArray file;
    QByteArray gainMap, preview, trailer;
};

// A phone's HDR photo of `picture`: EXIF with the orientation (none for 0), an MPF index (little
// endian) listing itself, a grey gain map and a large preview of half its size, the gain map
// announced in XMP and by an ISO 21496-1 segment; a maker's trailer after everything, holding
// an end-of-image marker of its own.
inline Photo HdrPhoto(const QImage &picture, int orientation = 0) {
    Photo p;
    QImage grey = picture.scaled(picture.size() / 4).convertToFormat(QImage::Format_Grayscale8);
    p.gainMap = EncodeJpeg(grey, 70, 1, 1, false, 0, true);
    p.preview = EncodeJpeg(
        picture.scaled(picture.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 75, 2,
        2, false, 0);
    p.trailer = QByteArrayLiteral("\xFF\xD9 maker data \x01\x02\x03 SEFT");
    const QByteArray primary = EncodeJpeg(picture, 85, 2, 2, false, 0);
    const QByteArray exif =
        orientation ? segment(0xE1, convertertest::exifBlock(false, quint16(orientation)))
                    : QByteArray();
    // MPF: TIFF header, one directory of three entries, then the three 16-byte picture entries.
    const qsizetype entriesAt = 8 + 2 + 3 * 12 + 4;
    const auto mpfPayload = [&](quint32 primarySize, quint32 gainAt, quint32 previewAt) {
        QByteArray tiff = QByteArray("II*\0", 4) + le32(8) + le16(3);
        tiff += le16(0xB000) + le16(7) + le32(4) + QByteArray("0100");
        tiff += le16(0xB001) + le16(4) + le32(1) + le32(3);
        tiff += le16(0xB002) + le16(7) + le32(48) + le32(quint32(entriesAt)) + le32(0);
        tiff += le32(0x20030000) + le32(primarySize) + le32(0) + le16(0) + le16(0);
        tiff += le32(0x00000000) + le32(quint32(p.gainMap.size())) + le32(gainAt) + le32(0);
        tiff += le32(0x00010001) + le32(quint32(p.preview.size())) + le32(previewAt) + le32(0);
        return QByteArray("MPF\0", 4) + tiff;
    };
    const QByteArray head = exif + segment(0xE2, mpfPayload(0, 0, 0)) + segment(0xE1, XmpGainMap) +
                            segment(0xE2, IsoGainMap);
    const qsizetype length = 2 + head.size() + primary.size() - 2;
    const qsizetype tiffAt = 2 + exif.size() + 4 + 4;
    const QByteArray mpf = segment(0xE2, mpfPayload(quint32(length), quint32(length - tiffAt),
                                                    quint32(length + p.gainMap.size() - tiffAt)));
    p.file = primary.left(2) + exif + mpf + segment(0xE1, XmpGainMap) + segment(0xE2, IsoGainMap) +
             primary.mid(2) + p.gainMap + p.preview + p.trailer;
    return p;
}

struct Entry {
    quint32 attribute = 0, size = 0, offset = 0;
};

// The entries of the file's MPF index and where its TIFF header starts (-1 when it has none).
inline QList<Entry> ReadIndex(const QByteArray &file, qsizetype *tiffAt = nullptr) {
    QList<Entry> entries;
    if (tiffAt)
        *tiffAt = -1;
    const auto *d = reinterpret_cast<const uchar *>(file.constData());
    qsizetype i = 2;
    while (i + 4 <= file.size() && d[i] == 0xFF && d[i + 1] != 0xDA) {
        const int length = d[i + 2] << 8 | d[i + 3];
        if (d[i + 1] == 0xE2 && file.mid(i + 4, 4) == QByteArray("MPF\0", 4)) {
            const qsizetype t = i + 8;
            const bool big = file.mid(t, 2) == "MM";
            const auto get = [&](qsizetype at, int bytes) {
                quint32 v = 0;
                for (int k = 0; k < bytes; ++k)
                    v |= quint32(d[t + at + k]) << (8 * (big ? bytes - 1 - k : k));
                return v;
            };
            const quint32 ifd = get(4, 4);
            for (quint32 e = 0; e < get(ifd, 2); ++e) {
                const qsizetype entry = ifd + 2 + 12 * e;
                if (get(entry, 2) == 0xB002) {
                    const quint32 count = get(entry + 4, 4), at = get(entry + 8, 4);
                    for (quint32 k = 0; k < count / 16; ++k)
                        entries << Entry{get(at + 16 * k, 4), get(at + 16 * k + 4, 4),
                                         get(at + 16 * k + 8, 4)};
                }
            }
            if (tiffAt)
                *tiffAt = t;
            return entries;
        }
        i += 2 + length;
    }
    return entries;
}

} // namespace mpf
