#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QString>
#include <filesystem>
#include <functional>

namespace safe {
struct Decision;
}

// File steps of the save command that must never lose or follow anything: each throws a
// RuntimeError with a short description when it fails.

// Writes the image in the given Qt image format ("bmp": 24-bit Windows bitmap, "png") at path,
// through the safe replace of converter/SafeReplace.h: the file at path (or at the end of its
// links) is replaced in one move once the new one is complete and keeps its permissions; when
// writing fails it stays as it was and nothing is left behind. With a decision (Destination.h)
// the write goes only over what was decided, and is refused when something else stands there.
// When `edit` is given, the file's bytes are encoded in memory and written as it returns them.
void SaveImageReplacing(const QImage &image, const std::filesystem::path &path, const char *format,
                        const safe::Decision *decided = nullptr,
                        const std::function<QByteArray(const QByteArray &)> &edit = {});

// Writes the image as a 24-bit Windows bitmap (with its colour profile, see BitmapFile.h) into a
// file created afresh at path: whatever stood
// there is deleted first (SaveFreshBitmap), and the new file is created exclusively
// (WriteNewBitmap), so the write never goes through an older file or a link of that name; when
// something still stands there, nothing is written.
void SaveFreshBitmap(const QImage &image, const QString &path);
void WriteNewBitmap(const QImage &image, const QString &path);

// The camera data for the converter beside the intermediate bitmap: whatever stands at path is
// deleted, and a non-empty block written there afresh, as the bitmap is.
void WriteCameraData(const QByteArray &block, const QString &path);
// Any other file for the converter, written the same way (nothing when the bytes are empty).
void WriteFreshFile(const QByteArray &bytes, const QString &path);

// Makes the converter ready to run at path: a file already there is kept only when it is a plain
// file of ours, writable by us alone, holding exactly these bytes; anything else is deleted and
// the bytes are written afresh, with the owner's run bit, and closed.
void PlaceConverter(const QByteArray &bytes, const QString &path);

// Removes the temporary files that killed saves left in the folder a save at path writes into
// (see safe::removeLeftovers); never fails.
void RemoveLeftoversBeside(const std::filesystem::path &path);

// Proves that a file can be written at path (or at the end of its links) without touching what
// stands there: a temporary file is made beside it and removed. Leftovers of earlier saves into
// that folder go first.
void ProbeWritable(const QString &path);

// What stood at the converter's output before it ran, to tell afterwards whether it wrote a new
// file there.
class ConverterOutput {
public:
    explicit ConverterOutput(const std::filesystem::path &path);
    // Throws unless a new, non-empty JPEG file stands at the path now. An empty file the
    // converter left there is removed.
    void check() const;

private:
    std::filesystem::path path_;
    bool existed_ = false;
    quint64 device_ = 0;
    quint64 inode_ = 0;
    qint64 size_ = 0;
    QDateTime modified_;
};
