#include "platform/FileNames.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

fs::path PathFromBytes(const QByteArray &bytes) {
#ifdef Q_OS_WIN
    return fs::path(QString::fromUtf8(bytes).toStdWString());
#else
    return fs::path(bytes.toStdString());
#endif
}

QByteArray PathBytes(const fs::path &path) {
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native()).toUtf8();
#else
    return QByteArray::fromStdString(path.native());
#endif
}

QString ShownName(const fs::path &path) {
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(PathBytes(path));
#endif
}

QString QtName(const fs::path &path) {
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    // Qt passes a name on through the system's encoding of file names: only a name that comes
    // back as the same bytes reaches the same file.
    const QByteArray bytes = PathBytes(path);
    const QString name = QFile::decodeName(bytes);
    return QFile::encodeName(name) == bytes ? name : QString();
#endif
}

NameStatus StatusOf(const fs::path &name) {
    NameStatus status;
    std::error_code ec;
    const fs::file_status own = fs::symlink_status(name, ec);
    if (ec || !fs::exists(own)) {
        return status;
    }
    status.isLink = fs::is_symlink(own);
    const fs::file_status end = status.isLink ? fs::status(name, ec) : own;
    if (ec || !fs::exists(end)) {
        return status;
    }
    status.exists = true;
    status.isFile = fs::is_regular_file(end);
    status.isDir = fs::is_directory(end);
    if (status.isFile) {
        status.size = qint64(fs::file_size(name, ec));
    }
    return status;
}

fs::path LinkTarget(const fs::path &name) {
    std::error_code ec;
    return fs::read_symlink(name, ec);
}

bool SameFile(const fs::path &a, const fs::path &b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

OpenableName::OpenableName(const fs::path &name) : path_(QtName(name)) {
#ifdef Q_OS_UNIX
    if (path_.isEmpty() && !name.empty()) {
        fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ >= 0) {
            path_ = QStringLiteral("/proc/self/fd/%1").arg(fd_);
        }
    }
#endif
}

OpenableName::~OpenableName() {
#ifdef Q_OS_UNIX
    if (fd_ >= 0) {
        ::close(fd_);
    }
#endif
}
