#include "save/PrivateFolder.h"

#include "app/ErrorReport.h"
#include "save/ConverterCommand.h"
#include "save/SaveFiles.h"

#include <QCryptographicHash>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString NamePattern = QStringLiteral("glyphtack-XXXXXX");

#ifdef Q_OS_UNIX
// An open handle on the folder: a plain folder of ours that nobody else may enter.
int OpenOwnFolder(const QString &path, struct stat &info) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &info) != 0 || info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Removes the folders of programs that ended without removing theirs: ours, and unlocked.
void RemoveAbandonedFolders(const QString &temp) {
    static const QRegularExpression name(QStringLiteral("^glyphtack-[A-Za-z0-9]{6}$"));
    const QStringList entries =
        QDir(temp).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString &entry : entries) {
        if (!name.match(entry).hasMatch()) {
            continue;
        }
        const QString path = QDir(temp).filePath(entry);
        struct stat info {};
        const int fd = OpenOwnFolder(path, info);
        if (fd < 0) {
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            QDir(path).removeRecursively();
        }
        ::close(fd);
    }
}
#endif

} // namespace

HeldProgram::~HeldProgram() {
#ifdef Q_OS_UNIX
    if (fd_ >= 0) {
        ::close(fd_);
    }
#endif
}

HeldProgram::HeldProgram(HeldProgram &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

PrivateFolder::~PrivateFolder() {
    release();
}

void PrivateFolder::removeAbandoned(const QString &temp) {
#ifdef Q_OS_UNIX
    if (!temp.isEmpty()) {
        RemoveAbandonedFolders(temp);
    }
#else
    Q_UNUSED(temp);
#endif
}

void PrivateFolder::placeConverter(const QByteArray &bytes) {
    PlaceConverter(bytes, ConverterPath(path_));
    converterHash_ = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

HeldProgram PrivateFolder::converterForRunning() const {
    const RuntimeError changed("The program's private folder was changed by someone else; the JPG "
                               "converter was not run");
    if (path_.isEmpty() || converterHash_.isEmpty() || !stillOurs()) {
        throw changed;
    }
    const QString program = ConverterPath(path_);
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(QFileInfo(program).fileName());
    const int fd = ::openat(lock_, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    // Where the system names open files, the program is started through this handle.
    const bool named = QFileInfo(QStringLiteral("/proc/self/fd")).isDir();
    HeldProgram held(fd, named ? QStringLiteral("/proc/self/fd/%1").arg(fd) : program);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 022) != 0 || !(info.st_mode & S_IXUSR)) {
        throw changed;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) ||
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256) != converterHash_) {
        throw changed;
    }
    return held;
#else
    const QFileInfo file(program);
    QFile content(program);
    if (!file.isFile() || file.isSymLink() || !content.open(QIODevice::ReadOnly) ||
        QCryptographicHash::hash(content.readAll(), QCryptographicHash::Sha256) != converterHash_) {
        throw changed;
    }
    return HeldProgram(-1, program);
#endif
}

QString PrivateFolder::inside(const QString &temp) {
    if (!path_.isEmpty() && temp == temp_ && stillOurs()) {
        return path_;
    }
    release();
    if (!QFileInfo(temp).isDir()) {
        throw RuntimeError("Path not found");
    }
#ifdef Q_OS_UNIX
    RemoveAbandonedFolders(temp);
#endif
    for (int attempt = 0; attempt < 10; ++attempt) {
        QTemporaryDir made(QDir(temp).filePath(NamePattern));
        if (!made.isValid()) {
            throw RuntimeError("Permission denied");
        }
        made.setAutoRemove(false);
#ifdef Q_OS_UNIX
        // Locked for as long as the program runs. Another program's clean-up may have taken the
        // folder between its making and the lock; then it is not ours any more.
        struct stat opened {};
        struct stat named {};
        const int fd = OpenOwnFolder(made.path(), opened);
        if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 &&
            ::lstat(QFile::encodeName(made.path()).constData(), &named) == 0 &&
            named.st_ino == opened.st_ino && named.st_dev == opened.st_dev) {
            lock_ = fd;
        } else {
            if (fd >= 0) {
                ::close(fd);
            }
            continue;
        }
#endif
        temp_ = temp;
        path_ = made.path();
        return path_;
    }
    throw RuntimeError("Permission denied");
}

bool PrivateFolder::stillOurs() const {
#ifdef Q_OS_UNIX
    struct stat locked {};
    struct stat named {};
    return lock_ >= 0 && ::fstat(lock_, &locked) == 0 &&
           ::lstat(QFile::encodeName(path_).constData(), &named) == 0 && S_ISDIR(named.st_mode) &&
           named.st_ino == locked.st_ino && named.st_dev == locked.st_dev &&
           named.st_uid == ::geteuid() && (named.st_mode & 077) == 0;
#else
    const QFileInfo info(path_);
    return info.isDir() && !info.isSymLink();
#endif
}

void PrivateFolder::release() {
    if (!path_.isEmpty() && stillOurs()) {
        QDir(path_).removeRecursively();
    }
#ifdef Q_OS_UNIX
    if (lock_ >= 0) {
        ::close(lock_);
        lock_ = -1;
    }
#endif
    path_.clear();
    temp_.clear();
    converterHash_.clear();
}
