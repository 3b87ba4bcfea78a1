#include "batch/CaptionWriter.h"

#include "app/ErrorReport.h"
#include "batch/CaptionPicture.h"
#include "save/SaveFiles.h"

#include <QImageWriter>
#include <QSaveFile>

void WriteCaptioned(const QImage &image, const CaptionOutput &output, int quality,
                    const QByteArray &exif) {
    Q_UNUSED(exif);
    if (output.format == QLatin1String("bmp")) {
        SaveBitmapReplacing(image, output.path);
        return;
    }
    QSaveFile file(output.path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw RuntimeError(file.errorString().toStdString());
    }
    QImageWriter writer(&file, output.format == QLatin1String("jpg") ? "jpeg" : "png");
    if (output.format == QLatin1String("jpg")) {
        writer.setQuality(quality);
    }
    if (!writer.write(image) || !file.commit()) {
        throw RuntimeError(writer.errorString().toStdString());
    }
}
