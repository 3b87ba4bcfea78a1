#include "save/ChangedBlocks.h"

#include "save/KeepPhoto.h"

#include <cstring>

namespace {

// True when the two pictures (of one size, in one format) differ within the rectangle.
bool differ(const QImage &a, const QImage &b, const QRect &r) {
    const qsizetype offset = qsizetype(r.x()) * a.depth() / 8;
    const size_t bytes = size_t(r.width()) * size_t(a.depth() / 8);
    for (int y = r.top(); y <= r.bottom(); ++y) {
        if (std::memcmp(a.constScanLine(y) + offset, b.constScanLine(y) + offset, bytes) != 0) {
            return true;
        }
    }
    return false;
}

QRect changedBounds(const QImage &a, const QImage &b) {
    QRect bounds;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.pixel(x, y) != b.pixel(x, y)) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

} // namespace

QList<QRect> ChangedMcus(const QImage &beforeImage, const QImage &afterImage, QPoint origin,
                         const JpegHeader &source) {
    if (beforeImage.size() != afterImage.size() || beforeImage.isNull()) {
        return {};
    }
    const QImage before = beforeImage.convertToFormat(QImage::Format_RGB32);
    const QImage after = afterImage.convertToFormat(QImage::Format_RGB32);
    if (!source.valid) {
        const QRect bounds = changedBounds(before, after);
        return bounds.isEmpty() ? QList<QRect>() : QList<QRect>{bounds.translated(origin)};
    }
    const QSize stored(source.width, source.height);
    const int o = source.orientation;
    const QRect part =
        QRect(origin, before.size()).intersected(QRect(QPoint(), ShownSize(stored, o)));
    const QRect inStored = ShownToStored(part, o, stored);
    if (inStored.isEmpty()) {
        return {};
    }
    const int mw = source.mcuWidth(), mh = source.mcuHeight();
    const QRect frame(QPoint(), stored);
    QList<QRect> changed;
    for (int my = inStored.top() / mh; my <= inStored.bottom() / mh; ++my) {
        QRect run;
        const auto flush = [&] {
            if (!run.isEmpty()) {
                changed << StoredToShown(run, o, stored);
                run = QRect();
            }
        };
        for (int mx = inStored.left() / mw; mx <= inStored.right() / mw; ++mx) {
            const QRect mcu = QRect(mx * mw, my * mh, mw, mh).intersected(frame);
            const QRect shown = StoredToShown(mcu, o, stored).intersected(part);
            if (differ(before, after, shown.translated(-origin))) {
                run |= mcu;
            } else {
                flush();
            }
        }
        flush();
    }
    return changed;
}
