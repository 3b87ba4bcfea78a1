#pragma once
// Inside of the Windows metafile player: the bounded record reader, the device-context state and
// the playback engine. MetafilePlayer.cpp sizes the picture and runs it; the record handlers live
// in MetafileRecords.cpp (state, objects, clipping), MetafileShapes.cpp (lines and shapes),
// MetafileText.cpp (fonts and text) and MetafileBitmaps.cpp (bitmaps and blits), all drawing
// through MetafilePainting.cpp (budget, pens, brushes, raster operations).
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QRegion>
#include <QString>
#include <set>
#include <vector>

namespace wmfplay {

// Limits that keep a hostile file from costing unbounded time or memory.
inline constexpr int kMaxImageSide = 32767;
inline constexpr qint64 kMaxImagePixels = qint64(1) << 29; // 2 GiB of 32-bit pixels
inline constexpr int kMaxSaveDepth = 1024;
inline constexpr int kMaxObjects = 65535; // object indexes are 16-bit
inline constexpr int kMaxPaletteEntries = 256;
inline constexpr qint64 kMaxBitmapPixels = qint64(1) << 25;  // one embedded bitmap
inline constexpr qint64 kMaxPatternPixels = qint64(1) << 24; // all live pattern brushes together
inline constexpr qint64 kMaxRegionRects = qint64(1) << 18;   // all live regions together
// Work units: one per pixel of canvas a drawing may touch, plus fixed costs below. About a second
// or two of drawing on two cores.
inline constexpr qint64 kWorkBudget = qint64(1) << 31;
inline constexpr qint64 kRecordCost = 256;
inline constexpr qint64 kDrawCost = 1024;
inline constexpr qint64 kPointCost = 64;
inline constexpr qint64 kLengthCost = 1024; // per pixel of outline
inline constexpr qint64 kTextCost = 20000;
inline constexpr qint64 kGlyphCost = 2048;
inline constexpr qint64 kGlyphAreaCost = 8; // per pixel of a glyph's em square
inline constexpr qint64 kDecodeCost = 16;   // per pixel of a decoded bitmap

// The parameter bytes of one record. Every read is bounds-checked and yields 0 past the end, so a
// handler that checked the size it needs can read freely.
class Params {
public:
    Params() = default;
    Params(const uchar *data, qsizetype size) : d(data), n(size) {}
    qsizetype size() const { return n; }
    bool has(qsizetype bytes) const { return bytes >= 0 && bytes <= n; }
    quint8 u8(qsizetype at) const { return at >= 0 && at < n ? d[at] : 0; }
    quint16 u16(qsizetype at) const {
        return at >= 0 && at <= n - 2 ? quint16(d[at] | (d[at + 1] << 8)) : 0;
    }
    quint32 u32(qsizetype at) const { return u16(at) | (quint32(u16(at + 2)) << 16); }
    qint32 s32(qsizetype at) const { return qint32(u32(at)); }
    // The i-th 16-bit word, signed, as most record parameters are.
    int w(int i) const { return qint16(u16(qsizetype(i) * 2)); }
    const uchar *data() const { return d; }
    Params from(qsizetype at) const {
        return at >= 0 && at <= n ? Params(d + at, n - at) : Params();
    }

private:
    const uchar *d = nullptr;
    qsizetype n = 0;
};

// Record function numbers.
enum Record : quint16 {
    R_EOF = 0x0000,
    R_SaveDC = 0x001E,
    R_RealizePalette = 0x0035,
    R_CreatePalette = 0x00F7,
    R_SetBkMode = 0x0102,
    R_SetMapMode = 0x0103,
    R_SetROP2 = 0x0104,
    R_SetPolyFillMode = 0x0106,
    R_SetTextCharExtra = 0x0108,
    R_RestoreDC = 0x0127,
    R_InvertRegion = 0x012A,
    R_PaintRegion = 0x012B,
    R_SelectClipRegion = 0x012C,
    R_SelectObject = 0x012D,
    R_SetTextAlign = 0x012E,
    R_DIBCreatePatternBrush = 0x0142,
    R_DeleteObject = 0x01F0,
    R_CreatePatternBrush = 0x01F9,
    R_SetBkColor = 0x0201,
    R_SetTextColor = 0x0209,
    R_SetWindowOrg = 0x020B,
    R_SetWindowExt = 0x020C,
    R_SetViewportOrg = 0x020D,
    R_SetViewportExt = 0x020E,
    R_OffsetWindowOrg = 0x020F,
    R_OffsetViewportOrg = 0x0211,
    R_LineTo = 0x0213,
    R_MoveTo = 0x0214,
    R_OffsetClipRgn = 0x0220,
    R_FillRegion = 0x0228,
    R_SelectPalette = 0x0234,
    R_CreatePenIndirect = 0x02FA,
    R_CreateFontIndirect = 0x02FB,
    R_CreateBrushIndirect = 0x02FC,
    R_Polygon = 0x0324,
    R_Polyline = 0x0325,
    R_ScaleWindowExt = 0x0410,
    R_ScaleViewportExt = 0x0412,
    R_ExcludeClipRect = 0x0415,
    R_IntersectClipRect = 0x0416,
    R_Ellipse = 0x0418,
    R_Rectangle = 0x041B,
    R_SetPixel = 0x041F,
    R_FrameRegion = 0x0429,
    R_TextOut = 0x0521,
    R_PolyPolygon = 0x0538,
    R_RoundRect = 0x061C,
    R_PatBlt = 0x061D,
    R_Escape = 0x0626,
    R_CreateRegion = 0x06FF,
    R_Arc = 0x0817,
    R_Pie = 0x081A,
    R_Chord = 0x0830,
    R_BitBlt = 0x0922,
    R_DIBBitBlt = 0x0940,
    R_ExtTextOut = 0x0A32,
    R_StretchBlt = 0x0B23,
    R_DIBStretchBlt = 0x0B41,
    R_SetDIBitsToDevice = 0x0D33,
    R_StretchDIB = 0x0F43,
};

// True for records that put something on the picture.
bool isDrawingRecord(quint16 function);

enum MapMode {
    MM_TEXT = 1,
    MM_LOMETRIC,
    MM_HIMETRIC,
    MM_LOENGLISH,
    MM_HIENGLISH,
    MM_TWIPS,
    MM_ISOTROPIC,
    MM_ANISOTROPIC
};

struct LogPen {
    quint16 style = 0; // PS_SOLID
    int width = 0;     // logical units; 0 is one device pixel
    QRgb color = 0xff000000;
};

struct LogBrush {
    quint16 style = 0; // BS_SOLID
    QRgb color = 0xffffffff;
    quint16 hatch = 0;
    QImage pattern; // for pattern brushes
};

struct LogFont {
    int height = 0, width = 0, escapement = 0, weight = 0;
    bool italic = false, underline = false, strikeout = false;
    quint8 charset = 0, pitchAndFamily = 0;
    QString face;
};

struct GdiObject {
    enum Kind { Empty, Pen, Brush, Font, Palette, Region } kind = Empty;
    LogPen pen;
    LogBrush brush;
    LogFont font;
    QList<QRgb> palette;
    QList<QRect> region; // logical rectangles, right and bottom edges exclusive (setCoords)
};

struct DcState {
    LogPen pen;
    LogBrush brush;
    LogFont font;
    QList<QRgb> palette;
    QRgb textColor = 0xff000000, bkColor = 0xffffffff;
    int bkMode = 2, polyFillMode = 1, rop2 = 13, charExtra = 0;
    quint16 textAlign = 0;
    int mapMode = MM_TEXT;
    // Window and viewport; extents are never zero.
    qint64 winOrgX = 0, winOrgY = 0, winExtX = 1, winExtY = 1;
    qint64 vpOrgX = 0, vpOrgY = 0, vpExtX = 1, vpExtY = 1;
    QPointF cp; // current position, logical
    bool clipped = false;
    QRegion clip; // image pixels
};

// A linear map of one axis.
struct Axis {
    double scale = 1, offset = 0;
    double map(double v) const { return v * scale + offset; }
};

// What the caller of the playback decides before the first record: the mapping state a picture
// loader would set up, how device units land on the image, and the canvas.
struct PlaybackSetup {
    DcState initial;
    Axis devX, devY;  // device -> image
    QSize canvas;     // empty: measure only (nothing is painted, bounds are collected)
    QSize deviceSize; // non-empty: a viewport set by the file is fitted onto this device area
};

class Playback {
public:
    Playback(const QByteArray &data, qsizetype firstRecord, const PlaybackSetup &setup);
    void run(QPainter *painter);
    QRectF bounds() const { return drawn; } // image coordinates, of everything drawn
    bool usedRasterOps() const { return rasterOps; }

private:
    void dispatch(quint16 function, const Params &p);
    // MetafileRecords.cpp
    bool stateRecord(quint16 function, const Params &p);
    bool objectRecord(quint16 function, const Params &p);
    bool clipRecord(quint16 function, const Params &p);
    void setMapMode(int mode);
    void updateMapping();
    QRgb color(quint32 colorRef) const;
    int addObject(GdiObject object);
    void selectObject(int index);
    void deleteObject(int index);
    void setClip(const QRegion &region);
    QRegion regionOf(const GdiObject &object) const;
    bool readRegion(const Params &p, GdiObject *object) const;
    QRect imageRect(double left, double top, double right, double bottom) const;
    // MetafileShapes.cpp
    bool shapeRecord(quint16 function, const Params &p);
    QRectF rectOf(int l, int t, int r, int b) const; // logical box -> image rectangle
    // MetafilePainting.cpp
    bool beginDraw(); // false once playback has stopped
    void fixFrame();
    bool charge(const QRectF &box, qint64 points, qint64 fixed = kDrawCost);
    void paintShape(const QPainterPath &fill, const QPainterPath &outline, bool closedFill);
    void fillRect(const QRectF &rect, const QBrush &brush, int rop3,
                  const QRegion *within = nullptr);
    QPen currentPen(double *width) const;
    QBrush brushFor(const LogBrush &logBrush) const;
    bool applyRop(int rop2, QColor *override);
    void applyClip();
    QPointF pt(double x, double y) const { return {axX.map(x), axY.map(y)}; }
    // MetafileText.cpp
    bool textRecord(quint16 function, const Params &p);
    void drawText(QPointF ref, const QByteArray &bytes, const QList<QPointF> &advances,
                  quint16 options, const QRectF *rect);
    QFont deviceFont(double *ascent, double *descent) const;
    // MetafileBitmaps.cpp
    bool bitmapRecord(quint16 function, const Params &p);
    void blit(const QImage &source, QRectF src, int dx, int dy, int dw, int dh, quint32 rop);
    bool makePatternBrush(bool dib, const Params &p, LogBrush *brush);
    QImage decoded(const QImage &image);

    const QByteArray &bytes;
    qsizetype position;
    PlaybackSetup setup;
    QPainter *painter = nullptr;
    DcState dc;
    std::vector<DcState> saved;
    std::vector<GdiObject> objects;
    std::set<int> freeSlots;
    qint64 patternPixels = 0, regionRects = 0;
    Axis axX, axY; // logical -> image, kept in step with dc
    bool viewportSetByFile = false, frameFixed = false, clipDirty = true;
    bool stopped = false, rasterOps = false, textAllowed = false;
    qint64 work = 0;
    QRectF drawn;
};

// MetafileBitmaps.cpp: device-independent bitmap (header, colour table, bits) and the old
// device-dependent bitmap. A null image when the data is unusable.
QImage decodeDib(const Params &p, bool paletteIndexes, const QList<QRgb> &palette);
QImage decodeBitmap16(const Params &p, QRgb zeroColor, QRgb oneColor);
// MetafileText.cpp: the string of a text record in the font's character set; bytesPerChar gets
// how many bytes made each character.
QString decodeText(const QByteArray &bytes, const LogFont &font, QList<int> *bytesPerChar);

} // namespace wmfplay
