#include "save/FileUtils.h"

#include "app/ErrorReport.h"
#include "platform/Services.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

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

namespace {

// A folder of the user's own, readable by the user alone: the runtime folder the session gives
// (XDG_RUNTIME_DIR, when it is a folder of the user's that nobody else may enter), or the cache.
QString UsersOwnTempFolder(Services &services) {
    const QString runtime = services.environment(QStringLiteral("XDG_RUNTIME_DIR"));
    if (!runtime.isEmpty()) {
        const QFileInfo info(runtime);
#ifdef Q_OS_UNIX
        const bool ours = info.ownerId() == ::geteuid();
#else
        const bool ours = true;
#endif
        if (info.isDir() && !info.isSymLink() && ours &&
            !(info.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther))) {
            return runtime;
        }
    }
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (base.isEmpty()) {
        base = QDir::homePath() + QStringLiteral("/.cache");
    }
    const QString folder = base + QStringLiteral("/glyphtack/tmp");
    if (!QDir().mkpath(folder)) {
        // No home to keep a cache in (a batch account): the system's temporary folder, where
        // the private folder inside gets owner-only access all the same.
        return QDir::tempPath();
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return folder;
}

// True for a folder in which others may rename or remove what the user makes: writable by the
// group or by all, without the sticky bit that keeps each user's entries to that user.
bool OthersMayRenameIn(const QString &folder) {
#ifdef Q_OS_UNIX
    struct stat info {};
    return ::stat(QFile::encodeName(folder).constData(), &info) == 0 &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (info.st_mode & S_ISVTX) == 0;
#else
    Q_UNUSED(folder);
    return false;
#endif
}

} // namespace

QString TempFolder(Services &services) {
    const QString temp = services.environment(QStringLiteral("TEMP"));
    // An empty value names no folder (the converter would land in the root folder); a folder in
    // which another user could swap the program's private folder is not used.
    if (!temp.isEmpty() && !OthersMayRenameIn(temp)) {
        return temp;
    }
    return UsersOwnTempFolder(services);
}

QString CommandTempFolder(Services &services) {
    // The system's own choice first (a cluster node's local disk, say), where it is a folder.
    const QString tmpdir = services.environment(QStringLiteral("TMPDIR"));
    if (!tmpdir.isEmpty() && QFileInfo(tmpdir).isDir() && !OthersMayRenameIn(tmpdir)) {
        return tmpdir;
    }
    return TempFolder(services);
}
