#include "save/SaveFiles.h"

#include "app/ErrorReport.h"
#include "save/FileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>
#include <QTemporaryFile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr QFileDevice::Permissions PrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool SomethingAt(const QString &path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Why nothing could be created in the folder of path, in the words of the error report.
[[noreturn]] void ThrowFolderFailure(const QString &path) {
    if (!QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
        throw RuntimeError("Path not found");
    }
    throw RuntimeError("Permission denied");
}

// Why a file could not be created at path.
[[noreturn]] void ThrowCreateFailure(const QString &path) {
    if (SomethingAt(path)) {
        throw RuntimeError("File already exists");
    }
    ThrowFolderFailure(path);
}

// Qt's bitmap writer puts out 24 bits per pixel for 32-bit pictures; anything else (a palette,
// fewer bits) is widened first so that every bitmap we write has the same form.
void WriteBitmap(QIODevice &device, const QImage &image) {
    if (image.isNull()) {
        throw RuntimeError("Invalid picture");
    }
    const QImage pixels = image.depth() == 32 ? image : image.convertToFormat(QImage::Format_RGB32);
    QImageWriter writer(&device, "bmp");
    if (!writer.write(pixels)) {
        // The bitmap writer does not say why it stopped; a file that refused the bytes does.
        const auto *file = qobject_cast<const QFileDevice *>(&device);
        const bool deviceFailed = writer.error() == QImageWriter::DeviceError ||
                                  (file != nullptr && file->error() != QFileDevice::NoError);
        throw RuntimeError(deviceFailed ? "Disk full" : "Invalid picture");
    }
}

// Writes into a file created exclusively at path (never an older file or a link of that name);
// a partly written file is deleted again.
template <class Write>
void CreateExclusively(const QString &path, QFileDevice::Permissions permissions, Write write) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions)) {
        ThrowCreateFailure(path);
    }
    try {
        write(file);
        if (!file.flush()) {
            throw RuntimeError("Disk full");
        }
        file.close();
        if (file.error() != QFileDevice::NoError) {
            throw RuntimeError("Disk full");
        }
    } catch (...) {
        file.close();
        QFile::remove(path);
        throw;
    }
}

// True when the file is the converter we would write: a plain file of ours that only we may
// change, runnable by us, with exactly these bytes.
bool HoldsConverter(const QString &path, const QByteArray &bytes) {
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() != bytes.size()) {
        return false;
    }
#ifdef Q_OS_UNIX
    if (info.ownerId() != ::geteuid()) {
        return false;
    }
#endif
    const QFileDevice::Permissions permissions = info.permissions();
    if ((permissions & (QFileDevice::WriteGroup | QFileDevice::WriteOther)) ||
        !(permissions & QFileDevice::ExeOwner)) {
        return false;
    }
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll() == bytes;
}

} // namespace

QString ExistingFileName(const QString &path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir()) {
        return QString();
    }
    return info.fileName();
}

void SaveBitmapReplacing(const QImage &image, const QString &path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (QFileInfo(path).isDir()) {
            throw RuntimeError("Path/File access error");
        }
        ThrowFolderFailure(path);
    }
    try {
        WriteBitmap(file, image);
    } catch (...) {
        file.cancelWriting();
        throw;
    }
    if (!file.commit()) {
        throw RuntimeError(file.error() == QFileDevice::WriteError ? "Disk full"
                                                                   : "Permission denied");
    }
}

void SaveFreshBitmap(const QImage &image, const QString &path) {
    ForceDelete(path);
    CreateExclusively(path, PrivateFile, [&](QFile &file) { WriteBitmap(file, image); });
}

void PlaceConverter(const QByteArray &bytes, const QString &path) {
    if (bytes.isEmpty()) {
        throw RuntimeError("Resource not found");
    }
    if (SomethingAt(path)) {
        if (HoldsConverter(path, bytes)) {
            return;
        }
        ForceDelete(path);
    }
    CreateExclusively(path, PrivateFile | QFileDevice::ExeOwner, [&](QFile &file) {
        if (file.write(bytes) != bytes.size()) {
            throw RuntimeError("Disk full");
        }
    });
}

void ProbeWritable(const QString &path) {
    if (!SomethingAt(path)) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            ThrowCreateFailure(path);
        }
        file.close();
        ForceDelete(path);
        return;
    }
    QTemporaryFile beside(path + QStringLiteral(".XXXXXX"));
    if (!beside.open()) {
        ThrowFolderFailure(path);
    }
}

ReplacedFile::~ReplacedFile() {
    restore();
}

void ReplacedFile::moveAside(const QString &path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        QString candidate = path + QStringLiteral(".glyphtack-old");
        if (attempt > 0) {
            candidate += QLatin1Char('-') + QString::number(attempt);
        }
        if (SomethingAt(candidate)) {
            continue;
        }
        if (!QFile::rename(path, candidate)) {
            break;
        }
        path_ = path;
        aside_ = candidate;
        return;
    }
    throw RuntimeError("Permission denied");
}

void ReplacedFile::keepReplacement() {
    if (isAside()) {
        ForceDelete(aside_);
        aside_.clear();
    }
}

void ReplacedFile::restore() {
    if (!isAside()) {
        return;
    }
    if (SomethingAt(path_)) {
        ForceDelete(path_);
    }
    // Should the old file not go back under its name, it stays under the name it was given.
    QFile::rename(aside_, path_);
    aside_.clear();
}
