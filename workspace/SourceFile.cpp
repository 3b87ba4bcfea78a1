#include "workspace/SourceFile.h"

#include "app/ErrorReport.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr auto HashMethod = QCryptographicHash::Sha256;
// A head larger than this is not a photo's: its segments are refused.
constexpr qint64 MaxHead = qint64(64) * 1024 * 1024;

QByteArray hashOf(QFile &file) {
    QCryptographicHash hash(HashMethod);
    return hash.addData(&file) ? hash.result() : QByteArray();
}

} // namespace

SourceFingerprint FingerprintOf(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.peek(3).startsWith("\xFF\xD8\xFF")) {
        return {};
    }
    SourceFingerprint fingerprint;
    const QFileInfo info(path);
    fingerprint.modified = info.lastModified();
    fingerprint.hash = hashOf(file);
    if (fingerprint.hash.isEmpty()) {
        return {};
    }
    fingerprint.size = file.size();
    return fingerprint;
}

SourceFingerprint FingerprintOfBytes(const QByteArray &bytes, const QDateTime &modified) {
    if (!bytes.startsWith("\xFF\xD8\xFF")) {
        return {};
    }
    SourceFingerprint fingerprint;
    fingerprint.modified = modified;
    fingerprint.hash = QCryptographicHash::hash(bytes, HashMethod);
    fingerprint.size = bytes.size();
    return fingerprint;
}

QByteArray ReadUnchangedFile(const QString &path, const SourceFingerprint &fingerprint) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw RuntimeError("the file it was loaded from can no longer be read");
    }
    const QFileInfo info(path);
    if (file.size() != fingerprint.size || info.lastModified() != fingerprint.modified) {
        throw RuntimeError("the file it was loaded from has changed since it was loaded");
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() != fingerprint.size ||
        QCryptographicHash::hash(bytes, HashMethod) != fingerprint.hash) {
        throw RuntimeError("the file it was loaded from has changed since it was loaded");
    }
    return bytes;
}

QByteArray ReadJpegHead(QIODevice &device) {
    QByteArray head = device.read(2);
    if (head != QByteArray("\xFF\xD8", 2)) {
        return {};
    }
    while (head.size() < MaxHead) {
        // A marker: any number of fill bytes, then its code.
        QByteArray marker = device.read(2);
        if (marker.size() != 2 || uchar(marker[0]) != 0xFF) {
            return {};
        }
        while (uchar(marker[1]) == 0xFF) {
            const QByteArray next = device.read(1);
            if (next.isEmpty()) {
                return {};
            }
            marker[1] = next[0];
        }
        const uchar code = uchar(marker[1]);
        head += marker;
        if (code == 0x01 || (code >= 0xD0 && code <= 0xD7)) {
            continue; // stands alone
        }
        if (code == 0xD9) {
            return {};
        }
        const QByteArray length = device.read(2);
        if (length.size() != 2) {
            return {};
        }
        const int size = (uchar(length[0]) << 8 | uchar(length[1])) - 2;
        const QByteArray payload = device.read(size);
        if (size < 0 || payload.size() != size) {
            return {};
        }
        head += length + payload;
        if (code == 0xDA) {
            return head;
        }
    }
    return {};
}
