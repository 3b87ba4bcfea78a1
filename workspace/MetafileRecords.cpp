// Metafile records that change the device context: modes, colours, mapping, saved states, the
// object table and the clipping region.
#include "workspace/MetafilePlayback.h"

#include <algorithm>
#include <cmath>

namespace wmfplay {

namespace {

// Window and viewport values stay far inside what doubles and 64-bit sums handle exactly.
constexpr qint64 kMaxMapValue = qint64(1) << 31;
// Clipping coordinates outside this range are clamped (QRegion works in int).
constexpr double kClipLimit = 1 << 24;
// An exclusion that would split the clip into more rectangles than this is ignored.
constexpr int kMaxClipRects = 4096;

bool validMapValue(qint64 v) {
    return v > -kMaxMapValue && v < kMaxMapValue;
}

int clipCoord(double v) {
    return int(std::lround(std::clamp(v, -kClipLimit, kClipLimit)));
}

} // namespace

void Playback::updateMapping() {
    double kx = 1, ky = 1;
    switch (dc.mapMode) {
    case MM_LOMETRIC:
        kx = 96.0 / 254.0;
        break;
    case MM_HIMETRIC:
        kx = 96.0 / 2540.0;
        break;
    case MM_LOENGLISH:
        kx = 0.96;
        break;
    case MM_HIENGLISH:
        kx = 0.096;
        break;
    case MM_TWIPS:
        kx = 96.0 / 1440.0;
        break;
    case MM_ISOTROPIC:
    case MM_ANISOTROPIC:
        kx = double(dc.vpExtX) / double(dc.winExtX);
        ky = double(dc.vpExtY) / double(dc.winExtY);
        if (dc.mapMode == MM_ISOTROPIC) {
            const double k = std::min(std::abs(kx), std::abs(ky));
            kx = std::copysign(k, kx);
            ky = std::copysign(k, ky);
        }
        break;
    default:
        break;
    }
    if (dc.mapMode >= MM_LOMETRIC && dc.mapMode <= MM_TWIPS) {
        ky = -kx; // the metric modes count y upwards
    }
    const Axis &dx = setup.devX, &dy = setup.devY;
    axX = {dx.scale * kx, dx.scale * (double(dc.vpOrgX) - double(dc.winOrgX) * kx) + dx.offset};
    axY = {dy.scale * ky, dy.scale * (double(dc.vpOrgY) - double(dc.winOrgY) * ky) + dy.offset};
}

void Playback::setMapMode(int mode) {
    if (mode >= MM_TEXT && mode <= MM_ANISOTROPIC) {
        dc.mapMode = mode;
        updateMapping();
    }
}

QRgb Playback::color(quint32 colorRef) const {
    if ((colorRef >> 24) == 1) { // an index into the selected palette
        const qsizetype index = colorRef & 0xFFFF;
        return index < dc.palette.size() ? dc.palette.at(index) : 0xff000000;
    }
    return qRgb(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

// Mapping, modes, colours and saved states.
bool Playback::stateRecord(quint16 function, const Params &p) {
    const bool ext = function == R_SetWindowExt || function == R_SetViewportExt;
    const bool anisotropic = dc.mapMode == MM_ISOTROPIC || dc.mapMode == MM_ANISOTROPIC;
    switch (function) {
    case R_SetBkMode:
        if (p.w(0) == 1 || p.w(0) == 2) {
            dc.bkMode = p.w(0);
        }
        return true;
    case R_SetPolyFillMode:
        if (p.w(0) == 1 || p.w(0) == 2) {
            dc.polyFillMode = p.w(0);
        }
        return true;
    case R_SetROP2:
        if (p.w(0) >= 1 && p.w(0) <= 16) {
            dc.rop2 = p.w(0);
        }
        return true;
    case R_SetTextAlign:
        dc.textAlign = p.u16(0);
        return true;
    case R_SetTextCharExtra:
        dc.charExtra = p.w(0);
        return true;
    case R_SetTextColor:
    case R_SetBkColor:
        if (p.has(4)) {
            (function == R_SetTextColor ? dc.textColor : dc.bkColor) = color(p.u32(0));
        }
        return true;
    case R_MoveTo:
        if (p.has(4)) {
            dc.cp = QPointF(p.w(1), p.w(0));
        }
        return true;
    case R_SetMapMode:
        setMapMode(p.w(0));
        return true;
    case R_SetWindowOrg:
    case R_SetViewportOrg:
    case R_OffsetWindowOrg:
    case R_OffsetViewportOrg:
    case R_SetWindowExt:
    case R_SetViewportExt: {
        if (!p.has(4) || (ext && (!anisotropic || p.w(0) == 0 || p.w(1) == 0))) {
            return true; // extents only count in the scalable modes, and never zero
        }
        const bool window = function == R_SetWindowOrg || function == R_OffsetWindowOrg ||
                            function == R_SetWindowExt;
        qint64 &x = ext ? (window ? dc.winExtX : dc.vpExtX) : (window ? dc.winOrgX : dc.vpOrgX);
        qint64 &y = ext ? (window ? dc.winExtY : dc.vpExtY) : (window ? dc.winOrgY : dc.vpOrgY);
        const bool offset = function == R_OffsetWindowOrg || function == R_OffsetViewportOrg;
        const qint64 nx = (offset ? x : 0) + p.w(1), ny = (offset ? y : 0) + p.w(0);
        if (validMapValue(nx) && validMapValue(ny)) {
            x = nx;
            y = ny;
        }
        viewportSetByFile = viewportSetByFile || function == R_SetViewportExt;
        updateMapping();
        return true;
    }
    case R_ScaleWindowExt:
    case R_ScaleViewportExt: {
        // yDenom, yNum, xDenom, xNum
        if (!p.has(8) || !anisotropic || p.w(0) == 0 || p.w(2) == 0) {
            return true;
        }
        const bool window = function == R_ScaleWindowExt;
        qint64 &x = window ? dc.winExtX : dc.vpExtX, &y = window ? dc.winExtY : dc.vpExtY;
        const qint64 nx = x * p.w(3) / p.w(2), ny = y * p.w(1) / p.w(0);
        if (nx != 0 && ny != 0 && validMapValue(nx) && validMapValue(ny)) {
            x = nx;
            y = ny;
            updateMapping();
        }
        return true;
    }
    case R_SaveDC:
        if (saved.size() < size_t(kMaxSaveDepth)) {
            saved.push_back(dc);
        }
        return true;
    case R_RestoreDC: {
        const int n = p.w(0);
        const qint64 depth = qint64(saved.size());
        const qint64 keep = n < 0 ? depth + n : qint64(n) - 1; // states left below the one restored
        if (n != 0 && keep >= 0 && keep < depth) {
            dc = saved[size_t(keep)];
            saved.resize(size_t(keep));
            updateMapping();
            clipDirty = true;
        }
        return true;
    }
    default:
        return false;
    }
}

int Playback::addObject(GdiObject object) {
    int slot = int(objects.size());
    if (!freeSlots.empty()) {
        slot = *freeSlots.begin();
        freeSlots.erase(freeSlots.begin());
    } else if (slot >= kMaxObjects) {
        return -1; // the table is full: the object is dropped, as Windows drops it
    } else {
        objects.emplace_back();
    }
    patternPixels += qint64(object.brush.pattern.width()) * object.brush.pattern.height();
    regionRects += object.region.size();
    objects[size_t(slot)] = std::move(object);
    return slot;
}

void Playback::deleteObject(int index) {
    if (index < 0 || size_t(index) >= objects.size() ||
        objects[size_t(index)].kind == GdiObject::Empty) {
        return;
    }
    const QImage &pattern = objects[size_t(index)].brush.pattern;
    patternPixels -= qint64(pattern.width()) * pattern.height();
    regionRects -= objects[size_t(index)].region.size();
    objects[size_t(index)] = GdiObject();
    freeSlots.insert(index);
}

void Playback::selectObject(int index) {
    if (index < 0 || size_t(index) >= objects.size()) {
        return;
    }
    const GdiObject &o = objects[size_t(index)];
    switch (o.kind) {
    case GdiObject::Pen:
        dc.pen = o.pen;
        break;
    case GdiObject::Brush:
        dc.brush = o.brush;
        break;
    case GdiObject::Font:
        dc.font = o.font;
        break;
    case GdiObject::Palette:
        dc.palette = o.palette;
        break;
    case GdiObject::Region:
        setClip(regionOf(o));
        break;
    case GdiObject::Empty:
        break;
    }
}

// Object creation, selection and deletion. A well-formed creating record takes a slot even when
// its contents cannot be rendered here, so that later indexes keep meaning what the writer meant.
bool Playback::objectRecord(quint16 function, const Params &p) {
    // A record too short for its object fails, as it does in Windows, and then takes no slot.
    GdiObject o;
    switch (function) {
    case R_CreatePenIndirect:
        if (!p.has(10)) {
            return true;
        }
        o.kind = GdiObject::Pen;
        o.pen = {p.u16(0), p.w(1), color(p.u32(6))};
        break;
    case R_CreateBrushIndirect:
        if (!p.has(8)) {
            return true;
        }
        o.kind = GdiObject::Brush;
        o.brush.style = p.u16(0);
        o.brush.color = color(p.u32(2));
        o.brush.hatch = p.u16(6);
        break;
    case R_CreateFontIndirect: {
        if (!p.has(18)) {
            return true;
        }
        o.kind = GdiObject::Font;
        LogFont &f = o.font;
        f.height = p.w(0);
        f.width = p.w(1);
        f.escapement = p.w(2);
        f.weight = p.w(4);
        f.italic = p.u8(10) != 0;
        f.underline = p.u8(11) != 0;
        f.strikeout = p.u8(12) != 0;
        f.charset = p.u8(13);
        f.pitchAndFamily = p.u8(17);
        QByteArray face;
        for (qsizetype i = 18; i < std::min<qsizetype>(p.size(), 18 + 32) && p.u8(i) != 0; ++i) {
            face += char(p.u8(i));
        }
        LogFont encoding; // the face name is written in the font's own code page
        encoding.charset = f.charset == 2 ? 0 : f.charset;
        encoding.face = QStringLiteral("-");
        f.face = decodeText(face, encoding, nullptr).trimmed();
        break;
    }
    case R_CreatePalette: {
        if (!p.has(4)) {
            return true;
        }
        o.kind = GdiObject::Palette;
        const qsizetype count =
            std::min<qsizetype>({p.u16(2), kMaxPaletteEntries, (p.size() - 4) / 4});
        for (qsizetype i = 0; i < count; ++i) {
            o.palette.append(qRgb(p.u8(4 + i * 4), p.u8(5 + i * 4), p.u8(6 + i * 4)));
        }
        break;
    }
    case R_CreateRegion:
        if (!readRegion(p, &o)) {
            return true;
        }
        break;
    case R_DIBCreatePatternBrush:
    case R_CreatePatternBrush:
        if (!p.has(4)) {
            return true;
        }
        o.kind = GdiObject::Brush;
        if (!makePatternBrush(function == R_DIBCreatePatternBrush, p, &o.brush) && !stopped) {
            o.brush.color = 0xff808080; // unreadable pattern: a neutral grey
        }
        break;
    case R_SelectObject:
        selectObject(p.u16(0));
        return true;
    case R_SelectPalette:
        if (p.u16(0) < objects.size() && objects[p.u16(0)].kind == GdiObject::Palette) {
            dc.palette = objects[p.u16(0)].palette;
        }
        return true;
    case R_DeleteObject:
        deleteObject(p.u16(0));
        return true;
    default:
        return false;
    }
    addObject(std::move(o));
    return true;
}

// A region record: a header with the bounding box, then scans (a band of rows and the runs of
// columns inside it). A header without scans stands for its box; scans that do not fit the record
// make the record fail.
bool Playback::readRegion(const Params &p, GdiObject *o) const {
    if (!p.has(22)) {
        return false;
    }
    o->kind = GdiObject::Region;
    const int scans = p.u16(10);
    qsizetype at = 22;
    for (int s = 0; s < scans; ++s) {
        const qsizetype runs = p.u16(at) / 2;
        if (!p.has(at + 8 + runs * 4)) {
            return false;
        }
        const int top = p.w(int(at / 2 + 1)), bottom = p.w(int(at / 2 + 2));
        for (qsizetype r = 0; r < runs; ++r) {
            const qsizetype run = at + 6 + r * 4;
            QRect rect;
            rect.setCoords(qint16(p.u16(run)), top, qint16(p.u16(run + 2)), bottom);
            o->region.append(rect);
        }
        at += 8 + runs * 4;
        if (o->region.size() > 4096 || regionRects + o->region.size() > kMaxRegionRects) {
            o->region.clear(); // too detailed to keep: the box stands in
            break;
        }
    }
    if (o->region.isEmpty()) {
        QRect box;
        box.setCoords(p.w(7), p.w(8), p.w(9), p.w(10));
        o->region.append(box);
    }
    return true;
}

QRegion Playback::regionOf(const GdiObject &o) const {
    // Pairwise unions, so that many rectangles cost n log n rather than n squared.
    std::vector<QRegion> parts;
    parts.reserve(size_t(o.region.size()));
    for (const QRect &r : o.region) {
        parts.emplace_back(imageRect(r.left(), r.top(), r.right(), r.bottom()));
    }
    for (size_t step = 1; step < parts.size(); step *= 2) {
        for (size_t i = 0; i + step < parts.size(); i += 2 * step) {
            parts[i] += parts[i + step];
        }
    }
    return parts.empty() ? QRegion() : parts.front();
}

QRect Playback::imageRect(double left, double top, double right, double bottom) const {
    const double x1 = axX.map(left), x2 = axX.map(right);
    const double y1 = axY.map(top), y2 = axY.map(bottom);
    const int l = clipCoord(std::min(x1, x2)), r = clipCoord(std::max(x1, x2));
    const int t = clipCoord(std::min(y1, y2)), b = clipCoord(std::max(y1, y2));
    return QRect(l, t, r - l, b - t);
}

void Playback::setClip(const QRegion &region) {
    dc.clip = region;
    dc.clipped = true;
    clipDirty = true;
}

// Clipping. The region lives in image pixels, as a device region does.
bool Playback::clipRecord(quint16 function, const Params &p) {
    const QRegion everything = setup.canvas.isEmpty()
                                   ? QRegion(-(1 << 24), -(1 << 24), 1 << 25, 1 << 25)
                                   : QRegion(QRect(QPoint(0, 0), setup.canvas));
    const QRegion current = dc.clipped ? dc.clip : everything;
    if (function == R_IntersectClipRect || function == R_ExcludeClipRect ||
        function == R_OffsetClipRgn || function == R_SelectClipRegion) {
        // Region arithmetic costs by the rectangles involved.
        const qsizetype index = p.u16(0);
        const qint64 rects =
            current.rectCount() + (function == R_SelectClipRegion && size_t(index) < objects.size()
                                       ? objects[size_t(index)].region.size()
                                       : 0);
        if (!charge(QRectF(), rects)) {
            return true;
        }
    }
    switch (function) {
    case R_IntersectClipRect:
    case R_ExcludeClipRect: {
        if (!p.has(8)) {
            return true;
        }
        const QRect r = imageRect(p.w(3), p.w(2), p.w(1), p.w(0));
        if (function == R_IntersectClipRect) {
            setClip(current.intersected(r));
        } else {
            const QRegion rest = current.subtracted(r);
            if (rest.rectCount() <= kMaxClipRects) {
                setClip(rest);
            }
        }
        return true;
    }
    case R_OffsetClipRgn:
        if (dc.clipped && p.has(4)) {
            const QPoint by(clipCoord(p.w(1) * axX.scale), clipCoord(p.w(0) * axY.scale));
            const QRect box = dc.clip.boundingRect();
            if (std::max({std::abs(box.left()), std::abs(box.right()), std::abs(box.top()),
                          std::abs(box.bottom())}) > (1 << 25)) {
                dc.clip = QRegion(); // moved far beyond the canvas: nothing left to draw in
            } else {
                dc.clip.translate(by);
            }
            clipDirty = true;
        }
        return true;
    case R_SelectClipRegion: {
        const int index = p.u16(0);
        if (size_t(index) < objects.size() && objects[size_t(index)].kind == GdiObject::Region) {
            selectObject(index);
        } else { // no region: clipping off
            dc.clipped = false;
            dc.clip = QRegion();
            clipDirty = true;
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace wmfplay
