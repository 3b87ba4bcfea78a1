#include "batch/CaptionWriter.h"

#include "app/ErrorReport.h"
#include "batch/CaptionPicture.h"
#include "resources/ConverterResource.h"
#include "save/ConverterCommand.h"
#include "save/ConverterRun.h"
#include "save/JpegMetadata.h"
#include "save/KeepPhoto.h"
#include "save/MultiPicture.h"
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

bool CaptionWriter::write(const QImage &image, const CaptionOutput &output, int quality,
                          const QByteArray &exif, const JpegHeader &source, const QByteArray &file,
                          int index, bool replace) {
    const safe::Decision nothingThere;
    const safe::Decision *decided = replace ? nullptr : &nothingThere;
    if (output.format != QLatin1String("jpg")) {
        if (output.format == QLatin1String("png") && source.valid) {
            // A PNG holds no picture after its first: nothing may announce one.
            QList<JpegSegment> metadata = MetadataForSave(source, image.size(), true, QImage());
            DropPictureIndexes(metadata);
            SaveImageReplacing(image, output.path, "png", decided, [&](const QByteArray &png) {
                return AddPngMetadata(png, ExifPayload(metadata), XmpPacket(metadata));
            });
            return false;
        }
        SaveImageReplacing(image, output.path,
                           output.format == QLatin1String("bmp") ? "bmp" : "png", decided);
        return false;
    }
    const QString folder = converterFolder();
    const QString base = QStringLiteral(" %1").arg(index);
    bool dropped = false;
    try {
        SaveFreshBitmap(image, IntermediateBitmapPath(folder, base));
        if (source.valid) {
            dropped = WriteSourceMetadata(folder, base, source, image, file);
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
    return dropped;
}
