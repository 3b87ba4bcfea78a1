#include "save/Destination.h"

#include "SafeReplace.h"
#include "app/ErrorReport.h"

#include <QFile>
#include <QFileInfo>

std::filesystem::path NativePath(const QString &path) {
#ifdef Q_OS_WIN
    return std::filesystem::path(path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(path).toStdString());
#endif
}

QString Destination::expectation() const {
    return decided ? QString::fromStdString(decided->text()) : QString();
}

Destination DecideDestination(const QString &path) {
    Destination destination;
    if (path.isEmpty()) {
        return destination;
    }
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink()) {
        return destination;
    }
    try {
        destination.decided = safe::decide(NativePath(path));
    } catch (const safe::Failure &failure) {
        // A link that must not be followed ends the save here; any other name the system will
        // not look at (too long, in a missing folder) is left to the write, which says why.
        if (failure.problem() == safe::Problem::DanglingLink ||
            failure.problem() == safe::Problem::LinkToFolder) {
            throw RuntimeError(failure.what());
        }
        return destination;
    }
    if (!destination.decided->absent) {
        destination.name = info.fileName();
        if (info.isSymLink()) {
            destination.linkTarget = info.canonicalFilePath();
        }
    }
    return destination;
}
