#pragma once

// A TIFF structure inside a JPEG segment's payload (EXIF's after "Exif\0\0", MPF's after
// "MPF\0"), read and written in its own byte order, every access checked against its size, so a
// damaged or hostile block never reads or writes outside. Offsets count from the TIFF header.

#include <QByteArray>

#include <optional>

class Tiff {
public:
    static constexpr qsizetype EntrySize = 12;
    static constexpr quint16 ShortType = 3, LongType = 4, UndefinedType = 7, IfdType = 13;

    // The structure that starts `start` bytes into `payload`.
    Tiff(QByteArray &payload, qsizetype start) : block(payload), header(start) {}

    // True when the header holds a byte order and 42.
    bool open() {
        if (size() < 8) {
            return false;
        }
        if (block.mid(header, 2) == "MM") {
            bigEndian = true;
        } else if (block.mid(header, 2) != "II") {
            return false;
        }
        return get(2, 2) == 42;
    }
    qsizetype start() const { return header; }
    qsizetype size() const { return block.size() - header; }
    bool fits(qint64 offset, qint64 bytes) const {
        return offset >= 0 && bytes >= 0 && offset + bytes <= size();
    }
    quint32 get(qint64 offset, int bytes) const {
        if (!fits(offset, bytes)) {
            return 0;
        }
        quint32 value = 0;
        for (int i = 0; i < bytes; ++i) {
            const quint32 byte = quint8(block.at(header + offset + i));
            value |= bigEndian ? byte << (8 * (bytes - 1 - i)) : byte << (8 * i);
        }
        return value;
    }
    void put(qint64 offset, int bytes, quint32 value) {
        if (!fits(offset, bytes)) {
            return;
        }
        for (int i = 0; i < bytes; ++i) {
            const int shift = bigEndian ? 8 * (bytes - 1 - i) : 8 * i;
            block[header + offset + i] = char(quint8(value >> shift));
        }
    }
    void zero(qint64 offset, qint64 bytes) {
        if (fits(offset, bytes)) {
            block.replace(header + offset, bytes, QByteArray(bytes, '\0'));
        }
    }
    QByteArray bytes(qint64 offset, qint64 count) const {
        return fits(offset, count) ? block.mid(header + offset, count) : QByteArray();
    }
    void write(qint64 offset, const QByteArray &data) {
        if (fits(offset, data.size())) {
            block.replace(header + offset, data.size(), data);
        }
    }
    void append(const QByteArray &data) { block.append(data); }

    // The entries of the directory at `offset`, or nothing when they run outside the block.
    // The four bytes after them link the next directory.
    struct Directory {
        qint64 offset = 0;
        int count = 0;
        qint64 entry(int i) const { return offset + 2 + i * EntrySize; }
        qint64 next() const { return entry(count); }
    };
    std::optional<Directory> directory(qint64 offset) const {
        if (offset < 8 || !fits(offset, 2)) {
            return std::nullopt;
        }
        const Directory d{offset, int(get(offset, 2))};
        if (!fits(d.offset, 2 + d.count * EntrySize + 4)) {
            return std::nullopt;
        }
        return d;
    }
    // The first directory, which the header links.
    std::optional<Directory> first() const { return directory(get(4, 4)); }
    // The entry of `tag` in the directory, or -1.
    qint64 find(const Directory &d, quint16 tag) const {
        for (int i = 0; i < d.count; ++i) {
            if (get(d.entry(i), 2) == tag) {
                return d.entry(i);
            }
        }
        return -1;
    }
    // One SHORT or LONG value held in the entry itself.
    std::optional<quint32> single(qint64 entry) const {
        if (entry < 0 || get(entry + 4, 4) != 1) {
            return std::nullopt;
        }
        const quint32 type = get(entry + 2, 2);
        if (type == ShortType) {
            return get(entry + 8, 2);
        }
        if (type == LongType || type == IfdType) {
            return get(entry + 8, 4);
        }
        return std::nullopt;
    }
    void setSingle(qint64 entry, quint32 value) {
        if (entry < 0 || get(entry + 4, 4) != 1) {
            return;
        }
        const quint32 type = get(entry + 2, 2);
        if (type == ShortType && value <= 0xFFFF) {
            put(entry + 8, 2, value);
            put(entry + 10, 2, 0);
        } else if (type == LongType) {
            put(entry + 8, 4, value);
        }
    }
    // The `i`-th of the entry's SHORT or LONG values, wherever they are held; nothing when the
    // entry has fewer or they lie outside the block.
    std::optional<quint32> value(qint64 entry, quint32 i) const {
        if (entry < 0) {
            return std::nullopt;
        }
        const quint32 type = get(entry + 2, 2), count = get(entry + 4, 4);
        const int width = type == ShortType ? 2 : type == LongType ? 4 : 0;
        if (width == 0 || i >= count) {
            return std::nullopt;
        }
        const qint64 at = qint64(count) * width <= 4 ? entry + 8 : qint64(get(entry + 8, 4));
        if (!fits(at, qint64(count) * width)) {
            return std::nullopt;
        }
        return get(at + qint64(i) * width, width);
    }
    // Where an entry's data lies: in the entry itself (four bytes or fewer) or at its offset.
    qint64 dataAt(qint64 entry, qint64 bytes) const {
        return bytes <= 4 ? entry + 8 : qint64(get(entry + 8, 4));
    }

private:
    QByteArray &block;
    qsizetype header;
    bool bigEndian = false;
};
