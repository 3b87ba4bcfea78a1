#include "save/FileUtils.h"

#include "app/ErrorReport.h"
#include "platform/Services.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

bool PathExists(const QString &path) {
    if (path.isEmpty() || path.contains(QLatin1Char('*')) || path.contains(QLatin1Char('?'))) {
        return false;
    }
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

void RemoveFile(const QString &path) {
    if (QCoreApplication::instance() != nullptr) {
        QCoreApplication::processEvents();
    }
    ForceDelete(path);
}

void ForceDelete(const QString &path) {
    if (path.isEmpty()) {
        return;
    }
    if (QFile::remove(path)) {
        return;
    }
    // Forced delete: a read-only file loses its read-only mark first.
    const QFileInfo info(path);
    if (!info.exists() || info.isSymLink()) {
        // Nothing there, or a link: changing permissions would change what it points to.
        return;
    }
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner |
                                    QFileDevice::WriteUser);
    QFile::remove(path);
}

void WriteBytesToFile(const QByteArray &bytes, const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        if (file.error() == QFileDevice::PermissionsError) {
            throw RuntimeError("Permission denied");
        }
        throw RuntimeError("Path not found");
    }
    if (file.write(bytes) != bytes.size()) {
        throw RuntimeError("Disk full");
    }
    if (!file.flush()) {
        throw RuntimeError("Disk full");
    }
    file.close();
}

QString TempFolder(Services &services) {
    const QString temp = services.environment(QStringLiteral("TEMP"));
    // An empty value names no folder (the converter would land in the root folder).
    if (!temp.isEmpty()) {
        return temp;
    }
    // No shared folder: a folder of the user's own cache, readable by the user alone.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.cache");
    }
    const QString folder = base + QStringLiteral("/glyphtack/tmp");
    QDir().mkpath(folder);
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}
