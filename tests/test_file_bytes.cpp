// The bytes our writers leave on disk, read back without the program's own readers: the
// bitmap's rows padded to whole 4-byte words at any width, and a replaced file's data synced to
// disk before its name moves over the old one.
#include "Harness.h"
#include "SafeReplace.h"
#include "save/BitmapFile.h"
#include "save/PngFile.h"
#include "save/SaveFiles.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

quint32 Little32(const QByteArray &bytes, qsizetype at) {
    const auto *d = reinterpret_cast<const uchar *>(bytes.constData()) + at;
    return quint32(d[0]) | quint32(d[1]) << 8 | quint32(d[2]) << 16 | quint32(d[3]) << 24;
}

// The writer's announced steps and the system calls it really makes, in order, while Recording.
bool Recording = false;
QStringList Steps;

// A device that takes only so many bytes, as a full disk does.
class FullDevice : public QIODevice {
public:
    explicit FullDevice(qint64 room) : room_(room) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override {
        if (size > room_) {
            return -1;
        }
        room_ -= size;
        return size;
    }

private:
    qint64 room_;
};

} // namespace

// The C library's fsync and rename as the writer linked into this test calls them: recorded with
// the file each names, then made as the real system calls.
extern "C" int fsync(int fd) {
    if (Recording) {
        Steps << QStringLiteral("fsync ") +
                     QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(fd)).symLinkTarget();
    }
    return int(syscall(SYS_fsync, fd));
}
extern "C" int rename(const char *from, const char *to) noexcept {
    if (Recording) {
        Steps << QStringLiteral("rename ") +
                     QFileInfo(QString::fromLocal8Bit(from)).canonicalFilePath();
    }
    return int(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
}

class FileBytesTest : public QObject {
    Q_OBJECT
private slots:
    // Every width leaves each row at a multiple of 4 bytes; a row laid on the wrong stride would
    // shear the picture (in the BMP, and in every JPG made from the intermediate bitmap).
    void bitmapRowsArePaddedToWholeWords() {
        for (int width : {1, 2, 3, 5, 13, 64}) {
            const int height = 3;
            QImage image(width, height, QImage::Format_RGB32);
            for (int y = 0; y < height; ++y) {
                for (int x = 0; x < width; ++x) {
                    image.setPixel(x, y, qRgb(x * 3 + 1, y * 50 + 7, (x * 7 + y * 11) % 256));
                }
            }
            QBuffer buffer;
            buffer.open(QIODevice::WriteOnly);
            WriteBitmapFile(buffer, image);
            const QByteArray bytes = buffer.data();
            const qsizetype pixels = Little32(bytes, 10);
            const qsizetype stride = (qsizetype(width) * 3 + 3) / 4 * 4;
            QVERIFY(bytes.size() >= pixels + stride * height);
            for (int y = 0; y < height; ++y) {
                // Bottom row first, blue, green, red.
                const qsizetype row = pixels + stride * (height - 1 - y);
                for (int x = 0; x < width; ++x) {
                    const QRgb want = image.pixel(x, y);
                    QCOMPARE(uchar(bytes.at(row + 3 * x)), uchar(qBlue(want)));
                    QCOMPARE(uchar(bytes.at(row + 3 * x + 1)), uchar(qGreen(want)));
                    QCOMPARE(uchar(bytes.at(row + 3 * x + 2)), uchar(qRed(want)));
                }
            }
        }
    }

    // The new file's data reaches the disk before its name replaces the old file: a power cut
    // in between must leave the old file, never an empty new one. The fsync itself is seen, made
    // on the very file that is then renamed.
    void newFileIsSyncedBeforeItsRename() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("card.png"));
        WriteAll(path, "old picture");
        Steps.clear();
        safe::commitStepObserver = [](const char *step) {
            Steps << QStringLiteral("step ") + QString::fromLatin1(step);
        };
        QImage image(5, 3, QImage::Format_RGB32);
        image.fill(qRgb(10, 20, 30));
        Recording = true;
        SaveImageReplacing(image, path.toStdString(), "png");
        Recording = false;
        safe::commitStepObserver = nullptr;
        QCOMPARE(Steps.size(), 4);
        const QString written = Steps.at(1).mid(6);
        QVERIFY2(written.startsWith(QFileInfo(dir.path()).canonicalFilePath() + QLatin1Char('/')),
                 qPrintable(Steps.join(QLatin1String("; "))));
        QCOMPARE(Steps, (QStringList{"step sync", "fsync " + written, "step rename",
                                     "rename " + written}));
        QCOMPARE(QImage(path).pixel(4, 2), qRgb(10, 20, 30));
    }

    // The PNG writer keeps every pixel, the colour profile and the resolution, read back by the
    // image library's own PNG reader; a device that refuses bytes is a failure, never a crash.
    void pngKeepsPixelsProfileAndResolution() {
        QImage image(37, 11, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                image.setPixel(x, y, qRgb(x * 7 % 256, (y * 23 + x) % 256, (x * y * 5) % 256));
            }
        }
        image.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
        image.setDotsPerMeterX(3780);
        image.setDotsPerMeterY(2835);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("photo.png"));
        SaveImageReplacing(image, path.toStdString(), "png");
        const QImage read(path);
        QCOMPARE(read.size(), image.size());
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                QCOMPARE(read.pixel(x, y), image.pixel(x, y));
            }
        }
        QCOMPARE(read.colorSpace().iccProfile(), image.colorSpace().iccProfile());
        QCOMPARE(read.dotsPerMeterX(), 3780);
        QCOMPARE(read.dotsPerMeterY(), 2835);

        FullDevice full(100);
        try {
            WritePngFile(full, image);
            QFAIL("a full device was written");
        } catch (const std::exception &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Disk full"));
        }
    }
};

QTEST_MAIN(FileBytesTest)
#include "test_file_bytes.moc"
