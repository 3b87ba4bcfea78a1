#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// File steps of the save command that must never lose or follow anything: each throws a
// RuntimeError with a short description when it fails.

// The plain name of the file (not folder) that stands at path, or empty text when none does.
QString ExistingFileName(const QString &path);

// Writes the image as a 24-bit Windows bitmap. The file at path, if any, is replaced in one move
// once the new one is complete; when writing fails it stays as it was and nothing is left behind.
void SaveBitmapReplacing(const QImage &image, const QString &path);

// Writes the image as a 24-bit Windows bitmap into a file created afresh at path: whatever stood
// there is deleted first, and the new file is created exclusively, so the write never goes
// through an older file or a link of that name.
void SaveFreshBitmap(const QImage &image, const QString &path);

// Makes the converter ready to run at path: a file already there is kept only when it is a plain
// file of ours, writable by us alone, holding exactly these bytes; anything else is deleted and
// the bytes are written afresh, with the owner's run bit, and closed.
void PlaceConverter(const QByteArray &bytes, const QString &path);

// Proves that a file can be created at path: creates it empty and deletes it. When a file is
// already there (it is about to be replaced), a fresh file beside it is tried instead, so the
// old one is not touched.
void ProbeWritable(const QString &path);

// Moves an existing file aside while its replacement is being made, and puts it back unless the
// replacement is kept.
class ReplacedFile {
public:
    ReplacedFile() = default;
    ~ReplacedFile();
    ReplacedFile(const ReplacedFile &) = delete;
    ReplacedFile &operator=(const ReplacedFile &) = delete;

    // Moves the file at path to a free name beside it.
    void moveAside(const QString &path);
    bool isAside() const { return !aside_.isEmpty(); }
    // The replacement is complete: the old file goes.
    void keepReplacement();
    // The replacement failed: whatever stands at the path goes and the old file comes back.
    void restore();

private:
    QString path_;
    QString aside_;
};
