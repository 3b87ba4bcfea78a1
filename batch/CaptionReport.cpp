#include "batch/CaptionReport.h"

#include "batch/CaptionList.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

namespace {

// The last bytes of a file, fewer when it is shorter.
QByteArray lastBytes(QFile &file, qint64 count) {
    const qint64 from = qMax<qint64>(0, file.size() - count);
    return file.seek(from) ? file.read(file.size() - from) : QByteArray();
}

} // namespace

bool IsCompleteOutput(const QString &path, const QString &format, const QString &input) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0) {
        return false;
    }
    const qint64 size = file.size();
    if (format == QLatin1String("jpg")) {
        const QByteArray endOfImage("\xFF\xD9", 2);
        if (size >= 4 && lastBytes(file, 2) == endOfImage) {
            return true;
        }
        // A trailer after the pictures ends the file as it ended the source: from the source's
        // last end-of-image marker on, or its last 64 KB when the trailer is longer.
        QFile source(input);
        QByteArray trailer =
            !input.isEmpty() && source.open(QIODevice::ReadOnly) ? lastBytes(source, 65536) : "";
        trailer = trailer.mid(qMax<qsizetype>(0, trailer.lastIndexOf(endOfImage)));
        return trailer.size() > 2 && lastBytes(file, trailer.size()) == trailer;
    }
    if (format == QLatin1String("png")) {
        static const QByteArray iend("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
        return size >= 8 + 12 && file.seek(size - 12) && file.read(12) == iend;
    }
    if (format == QLatin1String("bmp")) {
        const QByteArray header = file.read(6);
        return header.size() == 6 && header.startsWith("BM") &&
               qFromLittleEndian<quint32>(header.constData() + 2) == quint64(size);
    }
    return false;
}

bool CaptionReport::open(const QString &path) {
    QDir().mkpath(QFileInfo(path).path());
    file_.setFileName(path);
    return file_.open(QIODevice::WriteOnly | QIODevice::Append);
}

void CaptionReport::add(const PictureResult &result) {
    const QMutexLocker lock(&mutex_);
    if (!file_.isOpen()) {
        return;
    }
    QJsonObject line{{QStringLiteral("input"), result.input},
                     {QStringLiteral("output"), result.output},
                     {QStringLiteral("status"), result.status},
                     {QStringLiteral("reason"), result.reason},
                     {QStringLiteral("milliseconds"), result.milliseconds}};
    line.insert(QStringLiteral("quality"),
                result.quality > 0 ? QJsonValue(result.quality) : QJsonValue(QJsonValue::Null));
    file_.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    file_.flush();
}
