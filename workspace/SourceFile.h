#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QtGlobal>

class QIODevice;

// What a JPEG file was when it was loaded: its length, its time and a hash of its bytes. A save
// that keeps the file's own blocks uses the file only while all three still hold.
struct SourceFingerprint {
    qint64 size = -1; // -1: not a JPEG file, or it could not be read
    QDateTime modified;
    QByteArray hash;
    bool isSet() const { return size >= 0; }
};

// The fingerprint of the file at path when it holds a JPEG (by its first bytes); an unset one
// otherwise.
SourceFingerprint FingerprintOf(const QString &path);

// The fingerprint of a JPEG file's bytes as read, with the time the file had.
SourceFingerprint FingerprintOfBytes(const QByteArray &bytes, const QDateTime &modified);

// The file's bytes, when it is still the file the fingerprint was taken of; otherwise throws a
// RuntimeError saying what changed.
QByteArray ReadUnchangedFile(const QString &path, const SourceFingerprint &fingerprint);

// The head of a JPEG file, from its start to the end of its first scan header: every marker
// segment before the compressed data. Reads from the device's current position; empty when the
// device holds no JPEG or its segments are cut short.
QByteArray ReadJpegHead(QIODevice &device);
