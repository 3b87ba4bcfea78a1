#include "batch/CaptionWriter.h"

#include "app/ErrorReport.h"
#include "batch/CaptionPicture.h"
#include "resources/ConverterResource.h"
#include "save/ConverterCommand.h"
#include "save/ConverterRun.h"
#include "save/SaveFiles.h"

#include "Decision.h"

#include <QFile>
#include <QProcess>

QString CaptionWriter::converterFolder() {
    const QMutexLocker lock(&mutex_);
    if (placed_.isEmpty()) {
        const QString folder = folder_.inside(temp_);
        PlaceConverter(LoadConverterResource(), ConverterPath(folder));
        placed_ = folder;
    }
    return placed_;
}

void CaptionWriter::write(const QImage &image, const CaptionOutput &output, int quality,
                          const QByteArray &exif, int index, bool replace) {
    const safe::Decision nothingThere;
    const safe::Decision *decided = replace ? nullptr : &nothingThere;
    if (output.format != QLatin1String("jpg")) {
        SaveImageReplacing(image, output.path,
                           output.format == QLatin1String("bmp") ? "bmp" : "png", decided);
        return;
    }
    const QString folder = converterFolder();
    const QString base = QStringLiteral(" %1").arg(index);
    const QString bitmap = IntermediateBitmapPath(folder, base);
    const QString cameraData = CameraDataPath(folder, base);
    try {
        SaveFreshBitmap(image, bitmap);
        if (!exif.isEmpty()) {
            WriteCameraData(exif, cameraData);
        }
        folder_.checkBeforeRunning(ConverterPath(folder));
        RunConverterFor(ConverterCommandLineTo(
                            folder, qint16(quality), output.path, base,
                            replace ? QString() : QString::fromStdString(nothingThere.text())),
                        output.path, [](QProcess &process) { process.waitForFinished(100); });
    } catch (...) {
        QFile::remove(bitmap);
        QFile::remove(cameraData);
        throw;
    }
    QFile::remove(bitmap);
    QFile::remove(cameraData);
}
