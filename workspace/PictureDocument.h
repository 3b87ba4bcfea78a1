#pragma once

#include "workspace/SourceFile.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Where the picture came from, and at what size and zoom it is shown.
struct PictureDocument {
    QString OriginalPath;
    qint16 DetectedQuality = 0;
    qint32 OriginalWidth = 0;
    qint32 OriginalHeight = 0;
    qint32 ZoomedWidth = 0;
    qint32 ZoomedHeight = 0;
    float ZoomFactor = 0.0f;
    // The camera data (the APP1 "Exif" block, from its "Exif\0\0" header on) of the JPEG file
    // loaded last, kept for a JPG save of it; empty for other files.
    QByteArray SourceExif;
    // For a JPEG: the head of the file (its marker segments, for the metadata a JPG save of it
    // carries) and what the file was when loaded (for a save that keeps its blocks).
    QByteArray SourceHead;
    SourceFingerprint SourceFile;
    // True while a load decodes its file after showing its first view (the window's own events
    // run meanwhile, so a load started from one of them waits for nothing and is ignored).
    bool loading = false;
};
