#include "platform/FileNames.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr char16_t ForeignBase = 0xDC00;

// The length of the valid UTF-8 sequence at bytes[i], or 0 when none starts there.
int ValidSequence(const QByteArray &bytes, qsizetype i) {
    const auto at = [&](qsizetype k) { return k < bytes.size() ? uchar(bytes[k]) : 0u; };
    const uint lead = at(i);
    if (lead < 0x80) {
        return 1;
    }
    const auto continuation = [&](qsizetype k) { return (at(k) & 0xC0) == 0x80; };
    if (lead >= 0xC2 && lead <= 0xDF) {
        return continuation(i + 1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const uint second = at(i + 1);
        // No overlong forms, no surrogates.
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F)) {
            return 0;
        }
        return continuation(i + 1) && continuation(i + 2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const uint second = at(i + 1);
        if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {
            return 0;
        }
        return continuation(i + 1) && continuation(i + 2) && continuation(i + 3) ? 4 : 0;
    }
    return 0;
}

bool IsForeign(QChar c) {
    return c.unicode() >= ForeignBase + 0x80 && c.unicode() <= ForeignBase + 0xFF;
}

} // namespace

QString FileNameFromBytes(const QByteArray &bytes) {
    QString name;
    name.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        const int length = ValidSequence(bytes, i);
        if (length == 0) {
            name += QChar(char16_t(ForeignBase + uchar(bytes[i])));
            ++i;
            continue;
        }
        name += QString::fromUtf8(bytes.constData() + i, length);
        i += length;
    }
    return name;
}

QByteArray FileNameBytes(const QString &name) {
    if (!HasForeignBytes(name)) {
        return name.toUtf8();
    }
    QByteArray bytes;
    qsizetype start = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        // A foreign byte stands alone: never the second half of a surrogate pair.
        if (IsForeign(name[i]) && (i == 0 || !name[i - 1].isHighSurrogate())) {
            bytes += QStringView(name).sliced(start, i - start).toUtf8();
            bytes += char(name[i].unicode() - ForeignBase);
            start = i + 1;
        }
    }
    bytes += QStringView(name).sliced(start).toUtf8();
    return bytes;
}

bool HasForeignBytes(const QString &name) {
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (IsForeign(name[i]) && (i == 0 || !name[i - 1].isHighSurrogate())) {
            return true;
        }
    }
    return false;
}

NameStatus StatusOf(const QString &name) {
    NameStatus status;
#ifdef Q_OS_UNIX
    if (HasForeignBytes(name)) {
        const QByteArray bytes = FileNameBytes(name);
        struct stat info {};
        if (::lstat(bytes.constData(), &info) != 0) {
            return status;
        }
        status.isLink = S_ISLNK(info.st_mode);
        if (status.isLink && ::stat(bytes.constData(), &info) != 0) {
            return status;
        }
        status.exists = true;
        status.isFile = S_ISREG(info.st_mode);
        status.isDir = S_ISDIR(info.st_mode);
        status.size = qint64(info.st_size);
        return status;
    }
#endif
    const QFileInfo info(name);
    status.isLink = info.isSymLink();
    status.exists = info.exists();
    status.isFile = info.isFile();
    status.isDir = info.isDir();
    status.size = info.size();
    return status;
}

QString LinkTarget(const QString &name) {
#ifdef Q_OS_UNIX
    if (HasForeignBytes(name)) {
        QByteArray target(4096, '\0');
        const ssize_t length =
            ::readlink(FileNameBytes(name).constData(), target.data(), size_t(target.size()));
        return length > 0 ? FileNameFromBytes(target.left(length)) : QString();
    }
#endif
    return QFileInfo(name).symLinkTarget();
}

bool SameFile(const QString &a, const QString &b) {
#ifdef Q_OS_UNIX
    struct stat first {};
    struct stat second {};
    return ::stat(FileNameBytes(a).constData(), &first) == 0 &&
           ::stat(FileNameBytes(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
#else
    const QString canonical = QFileInfo(a).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
#endif
}

OpenableName::OpenableName(const QString &name) : path_(name) {
#ifdef Q_OS_UNIX
    if (HasForeignBytes(name)) {
        fd_ = ::open(FileNameBytes(name).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        path_ = fd_ >= 0 ? QStringLiteral("/proc/self/fd/%1").arg(fd_) : QString();
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
