#include "batch/CaptionReport.h"

#include "batch/CaptionList.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>

bool IsCompleteOutput(const QString &path, const QString &format) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0) {
        return false;
    }
    const qint64 size = file.size();
    if (format == QLatin1String("jpg")) {
        return size >= 4 && file.seek(size - 2) && file.read(2) == QByteArray("\xFF\xD9", 2);
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
