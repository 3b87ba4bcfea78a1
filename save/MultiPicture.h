#pragma once

// A JPEG file may hold more than its first picture. The Multi-Picture Format index (APP2
// "MPF\0", a small TIFF structure) lists every picture with its type, size and offset, the
// offsets counting from the index's own TIFF header: a phone's HDR gain map, the second view of a
// 3-D photo, a camera's large preview. Makers also append data no index lists (trailers that
// find themselves from the end of the file). A JPG written from such a photo carries all of it
// after its new first picture, in the same order: the pictures as they were (a gain map then
// lifts the caption as it lifts the scene around it), a large preview made anew from the saved
// picture, the rest byte for byte; the converter sets the index's offsets and sizes once the new
// first picture's length is known. When the saved picture does not lie in the source's frame
// pixel for pixel (saved at a zoom, turned upright), the pictures after the first no longer
// match it: they are left out, with every index that names them; a trailer stays.

#include "save/JpegHeader.h"

#include <QImage>

// The saved picture, as the previews of the saved file are made from it.
struct SavedPicture {
    QImage shown;        // the picture as saved, turned as it is shown
    int orientation = 1; // how the saved file's stored frame turns into `shown` (EXIF, 1..8)
    // The picture at `size` of the saved file's stored frame, turned into that frame.
    QImage at(QSize size) const;
};

struct PicturesAfterFirst {
    // What follows the new first picture's end, in this order.
    QByteArray bytes;
    // The converter's ".mpf" lines: "first P" (the four bytes at P of the MPF segment's payload
    // hold the first picture's length) and "after P T" (they hold the offset of what lies T bytes
    // after the first picture's end).
    QByteArray fields;
    // The source's pictures after its first were left out.
    bool dropped = false;
};

// Edits `segments` (the metadata of the new first picture, from the source `file`) for what
// follows it, and returns that. The APPn and COM segments that stood between the source's scans
// are added after the others, since the new file's scans are not the source's. An empty or
// unreadable `file` carries nothing after the first picture. `sameFrame`: the saved picture lies
// in the source's stored frame, pixel for pixel.
PicturesAfterFirst CarryPicturesAfterFirst(QList<JpegSegment> &segments, const QByteArray &file,
                                           const SavedPicture &picture, bool sameFrame);

// Takes out what announces pictures after the first: the MPF index, ISO 21496-1's gain map
// segment, and XMP's gain map version and container item (turned to blanks in place).
void DropPictureIndexes(QList<JpegSegment> &segments);
