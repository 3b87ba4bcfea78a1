#pragma once

#include "save/JpegHeader.h"
#include "save/PrivateFolder.h"

#include <QByteArray>
#include <QImage>
#include <QMutex>
#include <QString>
#include <filesystem>

struct CaptionOutput;

// Writes the captioned pictures of one run of the caption command, each replacing the file at its
// path only once the new one is complete. BMP and PNG are written straight; JPG goes through the
// program's own converter exactly as the window's save does (the picture as a bitmap with its
// colour profile, and its camera data, in a private folder inside the temporary folder, the
// converter run on them), so a JPG is the same whichever way it was made. (A JPEG photo kept as it
// was is written by CaptionKeep.h, with the converter's own code.) Safe to use from several
// threads at once.
class CaptionWriter {
public:
    explicit CaptionWriter(const QString &temp) : temp_(temp) {}

    // Throws RuntimeError saying what failed. `index` tells this picture's temporary files from
    // those of the others in flight. Unless `replace`, the finished file is placed only where
    // nothing stands at that moment: a name taken meanwhile fails, and what took it stays. A JPG
    // from a JPEG photo carries what follows the first picture of its `file` (see
    // save/MultiPicture.h); true when its pictures after the first were left out.
    bool write(const QImage &image, const CaptionOutput &output, int quality,
               const QByteArray &exif, const JpegHeader &source, const QByteArray &file, int index,
               bool replace);

private:
    // The private folder, with the converter placed in it at the first call.
    QString converterFolder();

    QString temp_;
    QMutex mutex_;
    PrivateFolder folder_;
    QString placed_;
};
