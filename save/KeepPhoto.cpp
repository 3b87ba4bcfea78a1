#include "save/KeepPhoto.h"

#include "app/ErrorReport.h"
#include "save/ConverterCommand.h"
#include "save/JpegMetadata.h"
#include "save/MultiPicture.h"
#include "save/Previews.h"
#include "save/SaveFiles.h"

#include <QFile>
#include <QTransform>

namespace {

// Orientations 5 to 8 turn the picture a quarter: its sides trade places.
bool turnsQuarter(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// A pixel of the stored frame (of size w x h) where the picture as shown has it.
QPoint storedToShown(QPoint p, int orientation, int w, int h) {
    switch (orientation) {
    case 2:
        return {w - 1 - p.x(), p.y()};
    case 3:
        return {w - 1 - p.x(), h - 1 - p.y()};
    case 4:
        return {p.x(), h - 1 - p.y()};
    case 5:
        return {p.y(), p.x()};
    case 6:
        return {h - 1 - p.y(), p.x()};
    case 7:
        return {h - 1 - p.y(), w - 1 - p.x()};
    case 8:
        return {p.y(), w - 1 - p.x()};
    default:
        return p;
    }
}

// The turn that undoes the orientation's: a quarter turn one way undoes one the other way; the
// other orientations undo themselves.
int inverse(int orientation) {
    return orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
}

template <typename Map> QRect mapRect(const QRect &r, Map map) {
    if (r.isEmpty()) {
        return {};
    }
    const QPoint a = map(r.topLeft()), b = map(r.bottomRight());
    return QRect(QPoint(qMin(a.x(), b.x()), qMin(a.y(), b.y())),
                 QPoint(qMax(a.x(), b.x()), qMax(a.y(), b.y())));
}

// The picture's pixels shrunk for a thumbnail (at most 160 x 120): a copy of this size costs
// little to turn, and still averages the photo's detail. A large photo is first sampled down to
// twice that size, which costs a small part of averaging all its pixels. Without a segment that
// holds a thumbnail, none is made.
QImage forThumbnail(const JpegHeader &source, const QImage &picture) {
    if (!HoldsPreviews(source.segments)) {
        return {};
    }
    const QSize size(640, 640);
    const QImage sampled =
        picture.width() > 2 * size.width() || picture.height() > 2 * size.height()
            ? picture.scaled(size * 2, Qt::KeepAspectRatio)
            : picture;
    return sampled.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

bool isGrey(QRgb c) {
    return qRed(c) == qGreen(c) && qGreen(c) == qBlue(c);
}

QString path(const QString &folder, const QString &base, const char *extension) {
    return folder + PathSeparator + base + QLatin1String(extension);
}

// The metadata file, and what follows the first picture, for the converter; true when the
// source's pictures after its first were left out.
bool writeMetadataFiles(const QString &folder, const QString &base, const QByteArray &meta,
                        const PicturesAfterFirst &after) {
    WriteFreshFile(meta, path(folder, base, ".meta"));
    if (!after.bytes.isEmpty()) {
        WriteFreshFile(after.bytes, path(folder, base, ".after"));
    }
    if (!after.fields.isEmpty()) {
        WriteFreshFile(after.fields, path(folder, base, ".mpf"));
    }
    return after.dropped;
}

// A JPG encoded anew holds YCbCr (or grey) data in the colours of its own picture: the source's
// Adobe segment, whose transform code describes the source's data (RGB, YCCK), and a CMYK
// source's colour profile would contradict it, and are left out.
void dropSourceColourCoding(QList<JpegSegment> &segments, const JpegHeader &source) {
    static const QByteArray iccHeader("ICC_PROFILE\0", 12);
    segments.removeIf([&](const JpegSegment &s) {
        return (s.marker == 0xEE && s.payload.startsWith("Adobe")) ||
               (source.components == 4 && s.marker == 0xE2 && s.payload.startsWith(iccHeader));
    });
}

} // namespace

QSize ShownSize(QSize stored, int orientation) {
    return turnsQuarter(orientation) ? stored.transposed() : stored;
}

QRect ShownToStored(const QRect &shown, int orientation, QSize stored) {
    const QSize frame = ShownSize(stored, orientation);
    return mapRect(shown, [&](QPoint p) {
        return storedToShown(p, inverse(orientation), frame.width(), frame.height());
    });
}

QRect StoredToShown(const QRect &inStored, int orientation, QSize stored) {
    return mapRect(inStored, [&](QPoint p) {
        return storedToShown(p, orientation, stored.width(), stored.height());
    });
}

QImage ShownToStored(const QImage &shown, int orientation) {
    switch (orientation) {
    case 2:
        return shown.mirrored(true, false);
    case 3:
        return shown.mirrored(true, true);
    case 4:
        return shown.mirrored(false, true);
    case 5:
        return shown.transformed(QTransform().rotate(90)).mirrored(true, false);
    case 6:
        return shown.transformed(QTransform().rotate(270));
    case 7:
        return shown.transformed(QTransform().rotate(90)).mirrored(false, true);
    case 8:
        return shown.transformed(QTransform().rotate(90));
    default:
        return shown;
    }
}

QImage StoredToShown(const QImage &inStored, int orientation) {
    return ShownToStored(inStored, inverse(orientation));
}

QString WhyBlocksCannotBeKept(const JpegHeader &source, const QImage &picture,
                              const QList<QRect> &areas) {
    // A head without quantization tables has no blocks to keep: it only describes a picture of
    // another kind (a HEIF or JPEG XL photo's metadata).
    if (!source.valid || source.lumaQuantTable.isEmpty()) {
        return QStringLiteral("its file is not a JPEG whose blocks can be read");
    }
    if (source.components == 4) {
        return QStringLiteral("it is a CMYK photo");
    }
    if (source.components != 1 && source.components != 3) {
        return QStringLiteral("its colours are of a kind that cannot be kept");
    }
    if (source.precision != 8) {
        return QStringLiteral("its samples are not 8 bits deep");
    }
    if (ShownSize(QSize(source.width, source.height), source.orientation) != picture.size()) {
        return QStringLiteral("the picture is not the size of the photo it came from");
    }
    if (source.components == 1 && HasColourIn(picture, areas)) {
        return QStringLiteral("it is a greyscale photo and the caption has colour");
    }
    return {};
}

bool WriteKeepFiles(const QString &folder, const QString &base, const JpegHeader &source,
                    const QImage &picture, const QList<QRect> &areas, const QByteArray &file) {
    const QSize stored(source.width, source.height);
    const int orientation = source.orientation;
    const int mw = source.mcuWidth(), mh = source.mcuHeight();
    // Every area in the stored frame, and the MCUs around all of them.
    QByteArray list;
    QRect around;
    for (const QRect &area : areas) {
        const QRect r = ShownToStored(area.intersected(picture.rect()), orientation, stored);
        if (r.isEmpty()) {
            continue;
        }
        list += QStringLiteral("area %1 %2 %3 %4\n")
                    .arg(r.x())
                    .arg(r.y())
                    .arg(r.width())
                    .arg(r.height())
                    .toLatin1();
        around |= r;
    }
    QImage pixels;
    if (!around.isEmpty()) {
        const int x0 = around.left() / mw * mw, y0 = around.top() / mh * mh;
        const int x1 = qMin(stored.width(), (around.right() + mw) / mw * mw);
        const int y1 = qMin(stored.height(), (around.bottom() + mh) / mh * mh);
        around = QRect(x0, y0, x1 - x0, y1 - y0);
        pixels =
            ShownToStored(picture.copy(StoredToShown(around, orientation, stored)), orientation);
    } else {
        // Nothing changed: one MCU, the converter's input must hold a picture.
        around = QRect(0, 0, qMin(mw, stored.width()), qMin(mh, stored.height()));
        pixels =
            ShownToStored(picture.copy(StoredToShown(around, orientation, stored)), orientation);
    }
    if (pixels.isNull()) {
        throw RuntimeError("Out of memory");
    }
    SaveFreshBitmap(pixels, IntermediateBitmapPath(folder, base));
    WriteFreshFile(QStringLiteral("patch %1 %2\n").arg(around.x()).arg(around.y()).toLatin1() +
                       list,
                   path(folder, base, ".areas"));
    const KeepMetadata metadata = MetadataForKeep(source, picture, file);
    return writeMetadataFiles(folder, base, MetaSidecar(metadata.segments), metadata.after);
}

KeepMetadata MetadataForKeep(const JpegHeader &source, const QImage &picture,
                             const QByteArray &file) {
    const int orientation = source.orientation;
    KeepMetadata metadata;
    metadata.segments = MetadataForSave(source, QSize(source.width, source.height), false,
                                        ShownToStored(forThumbnail(source, picture), orientation));
    metadata.after = CarryPicturesAfterFirst(metadata.segments, file, {picture, orientation}, true);
    return metadata;
}

bool HasColourIn(const QImage &picture, const QList<QRect> &areas) {
    const QImage rgb =
        picture.format() == QImage::Format_RGB32 || picture.format() == QImage::Format_ARGB32
            ? picture
            : QImage();
    for (const QRect &area : areas) {
        const QRect r = area.intersected(picture.rect());
        const QImage part =
            rgb.isNull() ? picture.copy(r).convertToFormat(QImage::Format_RGB32) : QImage();
        for (int y = 0; y < r.height(); ++y) {
            const auto *line =
                rgb.isNull() ? reinterpret_cast<const QRgb *>(part.constScanLine(y))
                             : reinterpret_cast<const QRgb *>(rgb.constScanLine(r.y() + y)) + r.x();
            for (int x = 0; x < r.width(); ++x) {
                if (!isGrey(line[x])) {
                    return true;
                }
            }
        }
    }
    return false;
}

bool WriteSourceMetadata(const QString &folder, const QString &base, const JpegHeader &source,
                         const QImage &picture, const QByteArray &file) {
    QList<JpegSegment> segments =
        MetadataForSave(source, picture.size(), true, forThumbnail(source, picture));
    dropSourceColourCoding(segments, source);
    const bool sameFrame =
        source.orientation == 1 && picture.size() == QSize(source.width, source.height);
    const PicturesAfterFirst after =
        CarryPicturesAfterFirst(segments, file, {picture, 1}, sameFrame);
    return writeMetadataFiles(folder, base, MetaSidecar(segments, picture.size(), source.sampling),
                              after);
}

void RemoveConverterFiles(const QString &folder, const QString &base) {
    for (const char *extension : {".bmp", ".exif", ".meta", ".areas", ".after", ".mpf", ".jpg"}) {
        QFile::remove(path(folder, base, extension));
    }
}
