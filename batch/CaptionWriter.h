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
// converter run on them), so a JPG is the same whichever way it was made. Safe to use from
// several threads at once.
class CaptionWriter {
public:
    explicit CaptionWriter(const QString &temp) : temp_(temp) {}

    // Throws RuntimeError saying what failed. `index` tells this picture's temporary files from
    // those of the others in flight. Unless `replace`, the finished file is placed only where
    // nothing stands at that moment: a name taken meanwhile fails, and what took it stays.
    void write(const QImage &image, const CaptionOutput &output, int quality,
               const QByteArray &exif, const JpegHeader &source, int index, bool replace);
    // Writes the JPEG photo at sourcePath again with only the MCUs that meet the areas encoded
    // anew from the image (the photo as shown, stamped); see save/KeepPhoto.h.
    void writeKept(const QImage &image, const CaptionOutput &output,
                   const std::filesystem::path &sourcePath, const JpegHeader &source,
                   const QList<QRect> &areas, int index, bool replace);

private:
    // The private folder, with the converter placed in it at the first call.
    QString converterFolder();

    QString temp_;
    QMutex mutex_;
    PrivateFolder folder_;
    QString placed_;
};
