#include "save/SaveFiles.h"

#include "SafeReplace.h"
#include "app/ErrorReport.h"
#include "platform/FileNames.h"
#include "save/BitmapFile.h"
#include "save/Destination.h"
#include "save/FileUtils.h"
#include "save/PngFile.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
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

// The report's description of a failure of the safe replace.
RuntimeError Described(const safe::Failure &failure) {
    switch (failure.problem()) {
    case safe::Problem::DiskFull:
        return RuntimeError("Disk full");
    case safe::Problem::NoFolder:
        return RuntimeError("Path not found");
    case safe::Problem::Denied:
        return RuntimeError("Permission denied");
    case safe::Problem::IsFolder:
        return RuntimeError("Path/File access error");
    case safe::Problem::NameTooLong:
        return RuntimeError("Bad file name or number");
    default:
        return RuntimeError(failure.what());
    }
}

// The bytes of an image writer go into the replacement's temporary file.
class ReplacementDevice : public QIODevice {
public:
    explicit ReplacementDevice(safe::Replacement &replacement) : replacement_(replacement) {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool failed() const { return failed_; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override {
        if (!replacement_.write(data, std::size_t(size))) {
            failed_ = true;
            return -1;
        }
        return size;
    }

private:
    safe::Replacement &replacement_;
    bool failed_ = false;
};

// Writes the image in the given format: bitmaps and PNGs with our own writers (which keep the
// colour profile; the PNG's settings are chosen for photos), anything else with Qt's, from
// 32-bit pixels. Throws "Invalid picture" when the writer refuses the picture itself.
void WriteImage(QIODevice &device, const QImage &image, const char *format) {
    if (image.isNull()) {
        throw RuntimeError("Invalid picture");
    }
    if (qstrcmp(format, "bmp") == 0) {
        WriteBitmapFile(device, image);
        return;
    }
    const QImage converted =
        image.depth() == 32 ? image : image.convertToFormat(QImage::Format_RGB32);
    if (qstrcmp(format, "png") == 0) {
        // The pixels, their colour space and resolution, but none of the text a loaded file
        // carried (a PNG's text chunks): the program does not keep it.
        WritePngFile(device, converted);
        return;
    }
    // The pixels, their colour space and resolution, but none of the text a loaded file carried
    // (a PNG's text chunks come into QImage::text): the program does not keep it, and one damaged
    // key would make the PNG writer refuse the whole picture. A view of the same pixels: no copy.
    QImage pixels(converted.constBits(), converted.width(), converted.height(),
                  converted.bytesPerLine(), converted.format());
    pixels.setColorSpace(converted.colorSpace());
    pixels.setDotsPerMeterX(converted.dotsPerMeterX());
    pixels.setDotsPerMeterY(converted.dotsPerMeterY());
    QImageWriter writer(&device, format);
    if (!writer.write(pixels)) {
        // The image writer does not say why it stopped; a file that refused the bytes does.
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

void SaveImageReplacing(const QImage &image, const std::filesystem::path &path, const char *format,
                        const safe::Decision *decided,
                        const std::function<QByteArray(const QByteArray &)> &edit) {
    try {
        safe::Replacement replacement(path, decided);
        ReplacementDevice device(replacement);
        try {
            if (edit) {
                // Encoded in memory first, for the edit to add to the file's bytes.
                QBuffer encoded;
                encoded.open(QIODevice::WriteOnly);
                WriteImage(encoded, image, format);
                const QByteArray bytes = edit(encoded.data());
                device.write(bytes);
            } else {
                WriteImage(device, image, format);
            }
            if (device.failed()) {
                replacement.throwFailure();
            }
        } catch (const RuntimeError &) {
            if (device.failed()) {
                replacement.throwFailure();
            }
            throw;
        }
        replacement.commit();
    } catch (const safe::Failure &failure) {
        throw Described(failure);
    }
}

void SaveFreshBitmap(const QImage &image, const QString &path) {
    ForceDelete(path);
    WriteNewBitmap(image, path);
}

void WriteNewBitmap(const QImage &image, const QString &path) {
    CreateExclusively(path, PrivateFile, [&](QFile &file) { WriteImage(file, image, "bmp"); });
}

void WriteCameraData(const QByteArray &block, const QString &path) {
    WriteFreshFile(block, path);
}

void WriteFreshFile(const QByteArray &bytes, const QString &path) {
    ForceDelete(path);
    if (bytes.isEmpty()) {
        return;
    }
    CreateExclusively(path, PrivateFile, [&](QFile &file) {
        if (file.write(bytes) != bytes.size()) {
            throw RuntimeError("Disk full");
        }
    });
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

void RemoveLeftoversBeside(const std::filesystem::path &path) {
    try {
        safe::removeLeftovers(safe::resolve(path).parent_path());
    } catch (const safe::Failure &) {
        // A name that cannot be written says so when it is written.
    }
}

void ProbeWritable(const QString &path) {
    RemoveLeftoversBeside(NativePath(path));
    try {
        const safe::Replacement probe(NativePath(path));
    } catch (const safe::Failure &failure) {
        throw Described(failure);
    }
}

ConverterOutput::ConverterOutput(const std::filesystem::path &path) : path_(path) {
    const NameStatus status = StatusOf(path);
    existed_ = status.isFile;
    size_ = status.size;
#ifdef Q_OS_UNIX
    struct stat now {};
    if (existed_ && ::stat(path.c_str(), &now) == 0) {
        device_ = quint64(now.st_dev);
        inode_ = quint64(now.st_ino);
    }
#else
    modified_ = QFileInfo(QtName(path)).lastModified();
#endif
}

void ConverterOutput::check() const {
    const NameStatus info = StatusOf(path_);
    if (!info.isFile) {
        throw RuntimeError("JPG converter wrote no file");
    }
    // A new file has a new identity (the converter renames its file over the old one); where
    // the system gives none, a new time or size.
    bool same = false;
#ifdef Q_OS_UNIX
    struct stat now {};
    same = existed_ && ::stat(path_.c_str(), &now) == 0 && quint64(now.st_dev) == device_ &&
           quint64(now.st_ino) == inode_;
#else
    same = existed_ && info.size == size_ && QFileInfo(QtName(path_)).lastModified() == modified_;
#endif
    if (same) {
        throw RuntimeError("JPG converter wrote no file");
    }
    if (info.size == 0) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        throw RuntimeError("JPG converter wrote an empty file");
    }
    const OpenableName readable(path_);
    QFile file(readable.path());
    if (!file.open(QIODevice::ReadOnly) || file.read(3) != QByteArray("\xFF\xD8\xFF", 3)) {
        throw RuntimeError("JPG converter wrote no JPEG file");
    }
}
