#include "batch/CaptionReport.h"

#include "batch/CaptionList.h"
#include "platform/FileNames.h"

#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtEndian>
#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The last bytes of a file, fewer when it is shorter.
QByteArray lastBytes(QFile &file, qint64 count) {
    const qint64 from = qMax<qint64>(0, file.size() - count);
    return file.seek(from) ? file.read(file.size() - from) : QByteArray();
}

// Opens the file itself, never what a link at its name points to; false for anything but a
// plain file.
bool OpenPlainFile(QFile &file, const fs::path &path) {
#ifdef Q_OS_UNIX
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) {
            ::close(fd);
        }
        return false;
    }
    return file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
#else
    file.setFileName(QtName(path));
    return file.open(QIODevice::ReadOnly);
#endif
}

// The value for a name: its text, and where that text does not hold its bytes, the bytes too.
void AddName(QJsonObject &line, const QString &key, const fs::path &path) {
    line.insert(key, ShownName(path));
    if (QtName(path).isEmpty() && !path.empty()) {
        line.insert(key + QStringLiteral("_bytes"),
                    QString::fromLatin1(PathBytes(path).toBase64()));
    }
}

} // namespace

bool IsCompleteOutput(const fs::path &path, const QString &format, const fs::path &input) {
    QFile file;
    if (!OpenPlainFile(file, path) || file.size() == 0) {
        return false;
    }
    const qint64 size = file.size();
    {
        QImageReader header(&file, format.toLatin1());
        if (!header.canRead() || !header.size().isValid()) {
            return false;
        }
    }
    if (format == QLatin1String("jpg")) {
        const QByteArray endOfImage("\xFF\xD9", 2);
        if (size >= 4 && lastBytes(file, 2) == endOfImage) {
            return true;
        }
        // A trailer after the pictures ends the file as it ended the source: from the source's
        // last end-of-image marker on, or its last 64 KB when the trailer is longer.
        const OpenableName source(input);
        QFile sourceFile(source.path());
        QByteArray trailer = !input.empty() && sourceFile.open(QIODevice::ReadOnly)
                                 ? lastBytes(sourceFile, 65536)
                                 : "";
        trailer = trailer.mid(qMax<qsizetype>(0, trailer.lastIndexOf(endOfImage)));
        return trailer.size() > 2 && lastBytes(file, trailer.size()) == trailer;
    }
    if (format == QLatin1String("png")) {
        static const QByteArray iend("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
        return size >= 8 + 12 && file.seek(size - 12) && file.read(12) == iend;
    }
    if (format == QLatin1String("bmp")) {
        const QByteArray start = file.seek(0) ? file.read(6) : QByteArray();
        return start.size() == 6 && start.startsWith("BM") &&
               qFromLittleEndian<quint32>(start.constData() + 2) == quint64(size);
    }
    return false;
}

bool CaptionReport::open(const fs::path &path) {
    std::error_code ignored;
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ignored);
    }
#ifdef Q_OS_UNIX
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Added at the end by the handle itself, which may be a pipe: Qt is not asked to seek.
    if (!file_.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
        error_ = file_.errorString();
        ::close(fd);
        return false;
    }
    return true;
#else
    file_.setFileName(QtName(path));
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error_ = file_.errorString();
        return false;
    }
    return true;
#endif
}

void CaptionReport::add(const PictureResult &result) {
    const QMutexLocker lock(&mutex_);
    if (!file_.isOpen() || !error_.isEmpty()) {
        return;
    }
    QJsonObject line;
    AddName(line, QStringLiteral("input"), result.input);
    AddName(line, QStringLiteral("output"), result.output);
    line.insert(QStringLiteral("status"), result.status);
    line.insert(QStringLiteral("reason"), result.reason);
    line.insert(QStringLiteral("milliseconds"), result.milliseconds);
    line.insert(QStringLiteral("quality"), result.kept          ? QJsonValue(QStringLiteral("keep"))
                                           : result.quality > 0 ? QJsonValue(result.quality)
                                                                : QJsonValue(QJsonValue::Null));
    const QByteArray bytes = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    if (file_.write(bytes) != bytes.size() || !file_.flush()) {
        error_ = file_.errorString();
    }
}

bool CaptionReport::close() {
    const QMutexLocker lock(&mutex_);
    if (!file_.isOpen()) {
        return error_.isEmpty();
    }
#ifdef Q_OS_UNIX
    // A full disk or a file system over the network may say so only here. A pipe or a terminal
    // has nothing to sync.
    if (error_.isEmpty() && ::fsync(file_.handle()) != 0 && errno != EINVAL && errno != EROFS) {
        error_ = QString::fromLocal8Bit(std::strerror(errno));
    }
#endif
    file_.close();
    if (error_.isEmpty() && file_.error() != QFileDevice::NoError) {
        error_ = file_.errorString();
    }
    return error_.isEmpty();
}

bool CaptionReport::failed() const {
    const QMutexLocker lock(&mutex_);
    return !error_.isEmpty();
}

QString CaptionReport::error() const {
    const QMutexLocker lock(&mutex_);
    return error_;
}
