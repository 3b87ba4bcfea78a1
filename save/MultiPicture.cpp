#include "save/MultiPicture.h"

#include "save/JpegLayout.h"
#include "save/JpegMetadata.h"
#include "save/KeepPhoto.h"
#include "save/Previews.h"
#include "save/Tiff.h"

#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace {

constexpr quint8 App1 = 0xE1, App2 = 0xE2;
const QByteArray MpfHeader("MPF\0", 4);
const QByteArray IsoGainMapHeader("urn:iso:std:iso:ts:21496:-1\0", 28);
const QByteArray XmpHeader("http://ns.adobe.com/xap/1.0/\0", 29);
constexpr quint16 MpEntryTag = 0xB002;
constexpr qsizetype MpEntrySize = 16;
constexpr quint32 LargeThumbnail = 0x010000, TypeClassMask = 0xFF0000, TypeMask = 0xFFFFFF;

bool isMpf(const JpegSegment &s) {
    return s.marker == App2 && s.payload.startsWith(MpfHeader);
}

// One picture the MPF index lists; `at` is where its entry starts in the segment's payload.
struct MpEntry {
    quint32 attribute = 0, size = 0, offset = 0;
    qsizetype at = 0;
    bool largeThumbnail() const {
        return (attribute & TypeClassMask) == LargeThumbnail && (attribute & TypeMask) != 0;
    }
};

std::optional<QList<MpEntry>> readMpIndex(const QByteArray &payload) {
    QByteArray copy = payload;
    Tiff tiff(copy, MpfHeader.size());
    const auto ifd = tiff.open() ? tiff.first() : std::nullopt;
    const qint64 entry = ifd ? tiff.find(*ifd, MpEntryTag) : -1;
    if (entry < 0 || tiff.get(entry + 2, 2) != Tiff::UndefinedType) {
        return std::nullopt;
    }
    const qint64 bytes = tiff.get(entry + 4, 4);
    const qint64 at = tiff.dataAt(entry, bytes);
    if (bytes % MpEntrySize != 0 || !tiff.fits(at, bytes)) {
        return std::nullopt;
    }
    QList<MpEntry> entries;
    for (qint64 e = at; e < at + bytes; e += MpEntrySize) {
        entries << MpEntry{tiff.get(e, 4), tiff.get(e + 4, 4), tiff.get(e + 8, 4),
                           tiff.start() + e};
    }
    return entries;
}

// A picture after the first: its entry in the index and where its bytes lie in the source.
struct Piece {
    int entry = 0;
    qsizetype start = 0, size = 0;
};

// The pictures the index lists that lie after the first picture's end, in the file's order, none
// overlapping another.
QList<Piece> locate(const QList<MpEntry> &entries, qsizetype mpfTiff, qsizetype firstEnd,
                    qsizetype fileSize) {
    QList<Piece> pieces;
    for (int i = 1; i < entries.size(); ++i) {
        const qsizetype start = mpfTiff + entries[i].offset, size = entries[i].size;
        if (entries[i].offset > 0 && size > 0 && start >= firstEnd && start + size <= fileSize) {
            pieces << Piece{i, start, size};
        }
    }
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece &a, const Piece &b) { return a.start < b.start; });
    for (int i = 1; i < pieces.size(); ++i) {
        if (pieces[i].start < pieces[i - 1].start + pieces[i - 1].size) {
            pieces.removeAt(i--);
        }
    }
    return pieces;
}

// A large preview made anew from the saved picture, at its size and about its quality, with its
// own segments; empty when the old one cannot be read.
QByteArray remadePreview(const QByteArray &old, const SavedPicture &picture) {
    const JpegHeader header = ReadJpegHeader(old);
    if (!header.valid || header.width < 1 || header.height < 1) {
        return {};
    }
    const QSize size(header.width, header.height);
    const QImage image = picture.at(size);
    const QByteArray encoded = EncodePreview(image, PreviewQuality(old));
    if (encoded.isEmpty()) {
        return {};
    }
    // The encoder's data after its own segments, behind the old preview's.
    qsizetype body = 2;
    while (body + 4 <= encoded.size() && quint8(encoded[body]) == 0xFF &&
           (quint8(encoded[body + 1]) >= 0xE0)) {
        body += 2 + (qsizetype(quint8(encoded[body + 2])) << 8 | quint8(encoded[body + 3]));
    }
    const QByteArray head = MetaSidecar(MetadataForSave(header, size, false, image));
    return head.chopped(2) + encoded.mid(body);
}

void setField(QByteArray &payload, qsizetype at, quint32 value) {
    QByteArray copy = payload;
    Tiff tiff(copy, MpfHeader.size());
    if (tiff.open()) {
        tiff.put(at - MpfHeader.size(), 4, value);
        payload = copy;
    }
}

// Blanks the matches of `pattern` in the packet with spaces, so that every other byte keeps its
// place.
void blankInXmp(QByteArray &payload, const QRegularExpression &pattern) {
    const QString text = QString::fromLatin1(payload);
    for (auto it = pattern.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        payload.replace(m.capturedStart(), m.capturedLength(), QByteArray(m.capturedLength(), ' '));
    }
}

} // namespace

QImage SavedPicture::at(QSize size) const {
    const QSize target = ShownSize(size, orientation);
    // A large photo is sampled down to twice the size first: averaging every pixel of it would
    // cost far more, for the same preview.
    const QImage sampled =
        shown.width() > 2 * target.width() || shown.height() > 2 * target.height()
            ? shown.scaled(target * 2, Qt::IgnoreAspectRatio)
            : shown;
    return ShownToStored(sampled.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                         orientation);
}

PicturesAfterFirst CarryPicturesAfterFirst(QList<JpegSegment> &segments, const QByteArray &file,
                                           const SavedPicture &picture, bool sameFrame) {
    PicturesAfterFirst after;
    const FirstPicture first = ReadFirstPicture(file);
    // The index is the first picture's own, before its first scan.
    const qsizetype mpf =
        std::find_if(segments.cbegin(), segments.cend(), isMpf) - segments.cbegin();
    auto entries = mpf < segments.size() ? readMpIndex(segments[mpf].payload)
                                         : std::optional<QList<MpEntry>>();
    if (entries && entries->isEmpty()) {
        entries.reset();
    }
    const QList<Piece> pieces = entries && first.end >= 0 && first.mpfTiff >= 0
                                    ? locate(*entries, first.mpfTiff, first.end, file.size())
                                    : QList<Piece>();
    if (first.end >= 0) {
        segments += first.betweenScans;
    }
    if (!sameFrame || first.end < 0) {
        after.dropped = (entries && entries->size() > 1) || !pieces.isEmpty();
        DropPictureIndexes(segments);
        // What no index lists (a maker's trailer) stays.
        if (first.end >= 0) {
            qsizetype cursor = first.end;
            for (const Piece &piece : pieces) {
                after.bytes += file.mid(cursor, piece.start - cursor);
                cursor = piece.start + piece.size;
            }
            after.bytes += file.mid(cursor);
        }
        return after;
    }
    if (!entries) {
        // No index, or one that cannot be read (its offsets would point anywhere): what follows
        // the first picture stays as it was.
        segments.removeIf(isMpf);
        after.bytes = file.mid(first.end);
        return after;
    }
    QByteArray &payload = segments[mpf].payload;
    after.fields = "first " + QByteArray::number(entries->value(0).at + 4) + '\n';
    qsizetype cursor = first.end;
    QList<bool> placed(entries->size(), false);
    for (const Piece &piece : pieces) {
        const MpEntry &entry = entries->at(piece.entry);
        after.bytes += file.mid(cursor, piece.start - cursor);
        QByteArray bytes = file.mid(piece.start, piece.size);
        if (entry.largeThumbnail()) {
            bytes = remadePreview(bytes, picture);
        }
        cursor = piece.start + piece.size;
        if (bytes.isEmpty()) {
            continue; // a preview that cannot be made anew is left out
        }
        setField(payload, entry.at + 4, quint32(bytes.size()));
        after.fields += "after " + QByteArray::number(entry.at + 8) + ' ' +
                        QByteArray::number(after.bytes.size()) + '\n';
        after.bytes += bytes;
        placed[piece.entry] = true;
    }
    after.bytes += file.mid(cursor);
    // An entry whose picture is not there points at nothing, rather than at another's bytes.
    for (int i = 1; i < entries->size(); ++i) {
        if (!placed[i]) {
            setField(payload, entries->at(i).at + 4, 0);
            setField(payload, entries->at(i).at + 8, 0);
        }
    }
    return after;
}

void DropPictureIndexes(QList<JpegSegment> &segments) {
    segments.removeIf([](const JpegSegment &s) {
        return isMpf(s) || (s.marker == App2 && s.payload.startsWith(IsoGainMapHeader));
    });
    static const QRegularExpression version(R"(\bhdrgm:Version\s*=\s*(["'])[^"']*\1)");
    static const QRegularExpression versionElement(R"(<hdrgm:Version>[^<]*</hdrgm:Version>)");
    static const QRegularExpression gainMapItem(
        R"(<rdf:li\b(?:(?!</rdf:li>).)*?Item:Semantic\s*=\s*["']GainMap["'](?:(?!</rdf:li>).)*?</rdf:li>)",
        QRegularExpression::DotMatchesEverythingOption);
    for (JpegSegment &s : segments) {
        if (s.marker == App1 && s.payload.startsWith(XmpHeader)) {
            blankInXmp(s.payload, version);
            blankInXmp(s.payload, versionElement);
            blankInXmp(s.payload, gainMapItem);
        }
    }
}
