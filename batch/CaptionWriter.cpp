#include "batch/CaptionWriter.h"

#include "app/ErrorReport.h"
#include "batch/CaptionPicture.h"
#include "resources/ConverterResource.h"
#include "save/ConverterCommand.h"
#include "save/ConverterRun.h"
#include "save/JpegMetadata.h"
#include "save/KeepPhoto.h"
#include "save/SaveFiles.h"

#include "Decision.h"

#include <QFile>
#include <QProcess>

QString CaptionWriter::converterFolder() {
    const QMutexLocker lock(&mutex_);
    if (placed_.isEmpty()) {
        placed_ = folder_.inside(temp_);
        folder_.placeConverter(LoadConverterResource());
    }
    return placed_;
}

void CaptionWriter::write(const QImage &image, const CaptionOutput &output, int quality,
                          const QByteArray &exif, const JpegHeader &source, int index,
                          bool replace) {
    const safe::Decision nothingThere;
    const safe::Decision *decided = replace ? nullptr : &nothingThere;
    if (output.format != QLatin1String("jpg")) {
        if (output.format == QLatin1String("png") && source.valid) {
            const QList<JpegSegment> metadata =
                MetadataForSave(source, image.size(), true, QImage());
            SaveImageReplacing(image, output.path, "png", decided, [&](const QByteArray &png) {
                return AddPngMetadata(png, ExifPayload(metadata), XmpPacket(metadata));
            });
            return;
        }
        SaveImageReplacing(image, output.path,
                           output.format == QLatin1String("bmp") ? "bmp" : "png", decided);
        return;
    }
    const QString folder = converterFolder();
    const QString base = QStringLiteral(" %1").arg(index);
    try {
        SaveFreshBitmap(image, IntermediateBitmapPath(folder, base));
        if (source.valid) {
            WriteSourceMetadata(folder, base, source, image);
        } else if (!exif.isEmpty()) {
            WriteCameraData(exif, CameraDataPath(folder, base));
        }
        RunConverterFor(folder_,
                        ConverterCommandLineTo(
                            folder, qint16(quality), output.path, base,
                            replace ? QString() : QString::fromStdString(nothingThere.text())),
                        output.path, [](QProcess &process) { process.waitForFinished(100); });
    } catch (...) {
        RemoveConverterFiles(folder, base);
        throw;
    }
    RemoveConverterFiles(folder, base);
}

void CaptionWriter::writeKept(const QImage &image, const CaptionOutput &output,
                              const std::filesystem::path &sourcePath, const JpegHeader &source,
                              const QList<QRect> &areas, int index, bool replace) {
    const safe::Decision nothingThere;
    const QString folder = converterFolder();
    const QString base = QStringLiteral(" %1").arg(index);
    try {
        WriteKeepFiles(folder, base, source, image, areas);
        RunConverterFor(
            folder_,
            KeepCommandLine(folder, sourcePath, output.path, base,
                            replace ? QString() : QString::fromStdString(nothingThere.text())),
            output.path, [](QProcess &process) { process.waitForFinished(100); });
    } catch (...) {
        RemoveConverterFiles(folder, base);
        throw;
    }
    RemoveConverterFiles(folder, base);
}
