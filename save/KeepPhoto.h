#pragma once

#include "save/JpegHeader.h"
#include "save/MultiPicture.h"

#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>

// A JPEG photo saved again as it was: only the MCUs under the stamps are encoded anew by the
// converter (its -keep mode), from the stamped picture's pixels. The picture on screen is shown
// upright, turned by the file's EXIF orientation; the file keeps its stored frame and its
// orientation tag, so what the stamps changed is turned back into that frame here.

// The size the file's stored frame has when shown turned by the orientation (1..8).
QSize ShownSize(QSize stored, int orientation);
// A rectangle of the picture as shown, in the stored frame of size `stored`; and back.
QRect ShownToStored(const QRect &shown, int orientation, QSize stored);
QRect StoredToShown(const QRect &inStored, int orientation, QSize stored);
// The pixels of a picture as shown, turned back into the stored frame; and the other way.
QImage ShownToStored(const QImage &shown, int orientation);
QImage StoredToShown(const QImage &inStored, int orientation);

// Why the picture (the source's pixels as shown, with stamps over `areas`) cannot be written by
// keeping the source's blocks, in words for the user; empty when it can.
QString WhyBlocksCannotBeKept(const JpegHeader &source, const QImage &picture,
                              const QList<QRect> &areas);

// Writes the converter's files for a keep save beside folder/base: the stamped pixels of the
// MCUs the areas meet (".bmp", in the stored frame), where they lie and the areas (".areas"),
// the source's metadata with previews of the picture (".meta"), and what follows the source
// `file`'s first picture (".after" and ".mpf", see MultiPicture.h). True when the source's
// pictures after its first were left out.
bool WriteKeepFiles(const QString &folder, const QString &base, const JpegHeader &source,
                    const QImage &picture, const QList<QRect> &areas, const QByteArray &file);

// Writes the source's metadata for a JPG of the picture encoded anew (".meta" beside
// folder/base): the source's segments (but for its Adobe segment, and a CMYK source's colour
// profile, which describe the source's data) with the orientation upright, its sizes the
// picture's and new previews, and its sampling; and what follows the source `file`'s first
// picture, as above (left out when the picture is not in the source's frame, or `file` is
// empty). True when the source's pictures after its first were left out.
bool WriteSourceMetadata(const QString &folder, const QString &base, const JpegHeader &source,
                         const QImage &picture, const QByteArray &file);

// The metadata of a photo kept as it was: the source's segments for the kept file, the previews
// made anew from `picture` (the photo as shown, stamped; it may be smaller than the photo, as
// long as it is at least as large as the previews), and what follows the first picture of the
// source `file` (MultiPicture.h).
struct KeepMetadata {
    QList<JpegSegment> segments;
    PicturesAfterFirst after;
};
KeepMetadata MetadataForKeep(const JpegHeader &source, const QImage &picture,
                             const QByteArray &file);

// True when a pixel of the picture within the areas is not grey.
bool HasColourIn(const QImage &picture, const QList<QRect> &areas);

// The converter's files of a save beside folder/base, whichever were written.
void RemoveConverterFiles(const QString &folder, const QString &base);
