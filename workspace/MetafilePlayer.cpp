// Windows metafile player: sizes the picture as the Windows picture loader does and replays the
// records as QPainter calls into a white RGB32 image.
//
// Sizing. A placeable file carries a bounding box and its units per inch; the picture is that box
// at 96 dots per inch, HiMetric = extent * 2540 / units-per-inch and pixels = HiMetric * 96 / 2540,
// both rounded. The box is played the way the loader plays it: an anisotropic mapping with the
// window on the box and the viewport on the whole image, which the file's own window records then
// replace; the frame is never cropped to the drawing.
// A plain file has no size of its own. Its frame is the window (origin and extent) in force when
// the first drawing record comes, one logical unit to a pixel. A window larger than 2048 units is
// taken to be in twips (1440 per inch, 15 units to a pixel), the unit most writers of large plain
// metafiles use; anything still larger than 2048 pixels is scaled down to 2048 on its longer side.
// A plain file without any window is framed by the bounds of its drawing (one unit to a pixel,
// scaled by the same rule); one that draws nothing is refused.
// When a file sets its own viewport extent, the viewport in force at its first drawing is fitted
// onto the frame, so files written for a device of another resolution still fill their frame.
//
// Limits. Pictures wider or taller than 32767 pixels or larger than 2^29 pixels (2 GiB) are
// refused. Playback stops at the first record whose size is zero or runs past the end, at EOF, or
// when the work budget (records, points, glyphs and touched pixels; see MetafilePlayback.h) is
// spent; what was drawn until then is kept. The object table holds at most 65535 objects, saved
// states at most 1024.
#include "workspace/MetafilePlayer.h"

#include "workspace/MetafilePlayback.h"

#include <QGuiApplication>
#include <cmath>
#include <new>

using namespace wmfplay;

namespace {

constexpr quint32 kPlaceableKey = 0x9AC6CDD7;
constexpr qsizetype kPlaceableSize = 22;
constexpr qsizetype kHeaderSize = 18;
constexpr double kPlainMaxSide = 2048;

[[noreturn]] void refuse() {
    throw std::runtime_error("Invalid picture");
}

struct Header {
    bool placeable = false;
    int left = 0, top = 0, right = 0, bottom = 0;
    int inch = 0;
    qsizetype firstRecord = 0;
};

quint16 u16At(const QByteArray &data, qsizetype at) {
    return Params(reinterpret_cast<const uchar *>(data.constData()), data.size()).u16(at);
}

bool metaHeaderAt(const QByteArray &data, qsizetype at) {
    if (data.size() - at < kHeaderSize) {
        return false;
    }
    const quint16 type = u16At(data, at), headerWords = u16At(data, at + 2);
    const quint16 version = u16At(data, at + 4);
    return (type == 1 || type == 2) && headerWords == 9 && (version == 0x0100 || version == 0x0300);
}

bool readHeader(const QByteArray &data, Header *h) {
    const Params p(reinterpret_cast<const uchar *>(data.constData()), data.size());
    if (p.has(4) && p.u32(0) == kPlaceableKey) {
        h->placeable = true;
        h->left = p.w(3);
        h->top = p.w(4);
        h->right = p.w(5);
        h->bottom = p.w(6);
        h->inch = p.u16(14);
        h->firstRecord = kPlaceableSize + kHeaderSize;
        return metaHeaderAt(data, kPlaceableSize);
    }
    h->firstRecord = kHeaderSize;
    return metaHeaderAt(data, 0);
}

qint64 roundedRatio(qint64 value, qint64 numerator, qint64 denominator) {
    return (value * numerator * 2 + denominator) / (denominator * 2);
}

void checkImageSize(QSize size, qint64 maxPixels) {
    if (size.width() < 1 || size.height() < 1 || size.width() > kMaxImageSide ||
        size.height() > kMaxImageSide || qint64(size.width()) * size.height() > kMaxImagePixels ||
        qint64(size.width()) * size.height() > maxPixels) {
        refuse();
    }
}

// The scale from frame units to pixels for a plain metafile (see the comment at the top).
double plainScale(double width, double height) {
    const double side = std::max(width, height);
    if (side <= kPlainMaxSide) {
        return 1.0;
    }
    if (side / 15.0 <= kPlainMaxSide) {
        return 1.0 / 15.0;
    }
    return kPlainMaxSide / side;
}

struct PlainWindow {
    bool found = false;
    int orgX = 0, orgY = 0, extX = 0, extY = 0;
};

// The window a plain file has set up when it first draws (or, if it draws before setting any, the
// first one it sets later). A metric mapping mode makes the window meaningless: not found.
PlainWindow plainWindow(const QByteArray &data, qsizetype at) {
    const Params all(reinterpret_cast<const uchar *>(data.constData()), data.size());
    PlainWindow w;
    bool drawing = false, metric = false;
    while (all.size() - at >= 6) {
        const quint32 words = all.u32(at);
        const quint16 function = all.u16(at + 4);
        if (words < 3 || words > quint32((all.size() - at) / 2) || function == R_EOF) {
            break;
        }
        const Params p = all.from(at + 6);
        if (function == R_SetMapMode && p.has(2) && !drawing) {
            metric = p.w(0) >= MM_LOMETRIC && p.w(0) <= MM_TWIPS;
        } else if (function == R_SetWindowOrg && p.has(4)) {
            w.orgX = p.w(1);
            w.orgY = p.w(0);
        } else if (function == R_SetWindowExt && p.has(4) && p.w(0) != 0 && p.w(1) != 0) {
            w.extX = p.w(1);
            w.extY = p.w(0);
            w.found = true;
            if (drawing) {
                break;
            }
        } else if (isDrawingRecord(function)) {
            if (w.found) {
                break;
            }
            drawing = true;
        }
        at += qsizetype(words) * 2;
    }
    w.found = w.found && !metric;
    return w;
}

// Sets up the loader's mapping: window on the frame, viewport on the device area, and the device
// area stretched over the image.
void frameMapping(PlaybackSetup *s, double orgX, double orgY, double extX, double extY,
                  QSize device, QSize image) {
    s->initial.mapMode = MM_ANISOTROPIC;
    s->initial.winOrgX = qint64(orgX);
    s->initial.winOrgY = qint64(orgY);
    s->initial.winExtX = qint64(extX);
    s->initial.winExtY = qint64(extY);
    s->initial.vpExtX = device.width();
    s->initial.vpExtY = device.height();
    s->devX.scale = double(image.width()) / device.width();
    s->devY.scale = double(image.height()) / device.height();
    s->canvas = image;
    s->deviceSize = device;
}

QSize scaledSize(double width, double height, double scale) {
    return {std::max(1, int(std::lround(width * scale))),
            std::max(1, int(std::lround(height * scale)))};
}

} // namespace

bool looksLikeMetafile(const QByteArray &data) {
    Header h;
    return readHeader(data, &h);
}

MetafilePicture playMetafile(const QByteArray &data, qint64 maxPixels) {
    Header h;
    if (!readHeader(data, &h)) {
        refuse();
    }
    try {
        PlaybackSetup setup;
        QSize size, himetric;
        if (h.placeable) {
            const qint64 width = qint64(h.right) - h.left, height = qint64(h.bottom) - h.top;
            if (width <= 0 || height <= 0 || h.inch <= 0) {
                refuse();
            }
            himetric = QSize(int(roundedRatio(width, 2540, h.inch)),
                             int(roundedRatio(height, 2540, h.inch)));
            size = QSize(int(std::max<qint64>(1, roundedRatio(himetric.width(), 96, 2540))),
                         int(std::max<qint64>(1, roundedRatio(himetric.height(), 96, 2540))));
            checkImageSize(size, maxPixels);
            frameMapping(&setup, h.left, h.top, double(width), double(height), size, size);
        } else {
            const PlainWindow w = plainWindow(data, h.firstRecord);
            if (w.found) {
                const double extX = std::abs(w.extX), extY = std::abs(w.extY);
                size = scaledSize(extX, extY, plainScale(extX, extY));
                checkImageSize(size, maxPixels);
                frameMapping(&setup, w.orgX, w.orgY, w.extX, w.extY, QSize(int(extX), int(extY)),
                             size);
            } else {
                // No window: measure the drawing in device units (the default mapping) first.
                PlaybackSetup measure;
                Playback pass(data, h.firstRecord, measure);
                pass.run(nullptr);
                const double reach = 1 << 29; // keeps the box's int arithmetic safe
                const QRect box = pass.bounds()
                                      .intersected(QRectF(-reach, -reach, 2 * reach, 2 * reach))
                                      .toAlignedRect();
                if (box.isEmpty()) {
                    refuse();
                }
                const double scale = plainScale(box.width(), box.height());
                size = scaledSize(box.width(), box.height(), scale);
                checkImageSize(size, maxPixels);
                setup.devX = {double(size.width()) / box.width(), 0};
                setup.devY = {double(size.height()) / box.height(), 0};
                setup.devX.offset = -box.left() * setup.devX.scale;
                setup.devY.offset = -box.top() * setup.devY.scale;
                setup.canvas = size;
            }
            himetric = QSize(int(roundedRatio(size.width(), 2540, 96)),
                             int(roundedRatio(size.height(), 2540, 96)));
        }
        QImage image(size, QImage::Format_RGB32);
        if (image.isNull()) {
            refuse();
        }
        image.fill(Qt::white);
        bool rasterOps = false;
        {
            QPainter painter(&image);
            if (!painter.isActive()) {
                refuse();
            }
            painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
            Playback play(data, h.firstRecord, setup);
            play.run(&painter);
            rasterOps = play.usedRasterOps();
        }
        if (rasterOps) {
            // Raster operations may have cleared the unused alpha byte; keep the pixels opaque.
            for (int y = 0; y < image.height(); ++y) {
                QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
                for (int x = 0; x < image.width(); ++x) {
                    line[x] |= 0xff000000u;
                }
            }
        }
        return {image, himetric};
    } catch (const std::bad_alloc &) {
        refuse();
    }
}

namespace wmfplay {

bool isDrawingRecord(quint16 function) {
    switch (function) {
    case R_LineTo:
    case R_Polyline:
    case R_Polygon:
    case R_PolyPolygon:
    case R_Rectangle:
    case R_RoundRect:
    case R_Ellipse:
    case R_Arc:
    case R_Pie:
    case R_Chord:
    case R_TextOut:
    case R_ExtTextOut:
    case R_SetPixel:
    case R_PatBlt:
    case R_BitBlt:
    case R_StretchBlt:
    case R_DIBBitBlt:
    case R_DIBStretchBlt:
    case R_StretchDIB:
    case R_SetDIBitsToDevice:
    case R_FillRegion:
    case R_PaintRegion:
    case R_FrameRegion:
    case R_InvertRegion:
        return true;
    default:
        return false;
    }
}

Playback::Playback(const QByteArray &data, qsizetype firstRecord, const PlaybackSetup &s)
    : bytes(data), position(firstRecord), setup(s), dc(s.initial) {
    updateMapping();
}

void Playback::run(QPainter *p) {
    painter = p;
    // Fonts need a GUI application; without one text is skipped rather than crash.
    textAllowed = qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
    const Params all(reinterpret_cast<const uchar *>(bytes.constData()), bytes.size());
    while (!stopped && all.size() - position >= 6) {
        const quint32 words = all.u32(position);
        const quint16 function = all.u16(position + 4);
        if (words < 3 || words > quint32((all.size() - position) / 2) || function == R_EOF) {
            break;
        }
        work += kRecordCost;
        if (work > kWorkBudget) {
            break;
        }
        const qsizetype size = qsizetype(words) * 2;
        dispatch(function, Params(all.data() + position + 6, size - 6));
        position += size;
    }
    if (painter) {
        painter->setClipping(false);
    }
}

void Playback::dispatch(quint16 function, const Params &p) {
    if (!frameFixed && isDrawingRecord(function)) {
        fixFrame(); // the mapping in force at the first drawing decides the device frame
    }
    stateRecord(function, p) || objectRecord(function, p) || clipRecord(function, p) ||
        shapeRecord(function, p) || textRecord(function, p) || bitmapRecord(function, p);
}

} // namespace wmfplay
