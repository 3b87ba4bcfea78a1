// Metafile geometry records: lines, polylines, polygons, rectangles, ellipses, arcs, regions and
// pixels, turned into image-space paths for Playback::paintShape.
#include "workspace/MetafilePlayback.h"

#include <algorithm>
#include <cmath>

namespace wmfplay {

namespace {

const QPointF kHalf(0.5, 0.5); // outlines run through pixel centres

// The angle (degrees, counter-clockwise on screen) of a point on the ellipse inscribed in rect.
double ellipseAngle(const QRectF &rect, const QPointF &p) {
    const QPointF c = rect.center();
    return std::atan2(-(p.y() - c.y()) / rect.height(), (p.x() - c.x()) / rect.width()) * 180.0 /
           M_PI;
}

} // namespace

QRectF Playback::rectOf(int l, int t, int r, int b) const {
    return QRectF(pt(l, t), pt(r, b)).normalized();
}

bool Playback::shapeRecord(quint16 function, const Params &p) {
    QPainterPath fill, outline;
    fill.setFillRule(dc.polyFillMode == 2 ? Qt::WindingFill : Qt::OddEvenFill);
    switch (function) {
    case R_LineTo: {
        if (!p.has(4)) {
            return true;
        }
        const QPointF to(p.w(1), p.w(0));
        outline.moveTo(pt(dc.cp.x(), dc.cp.y()) + kHalf);
        outline.lineTo(pt(to.x(), to.y()) + kHalf);
        dc.cp = to;
        paintShape(fill, outline, false);
        return true;
    }
    case R_Polyline:
    case R_Polygon: {
        const qsizetype count = p.u16(0);
        if (!p.has(2 + count * 4) || count < 2) {
            return true;
        }
        QPolygonF poly;
        poly.reserve(count);
        for (qsizetype i = 0; i < count; ++i) {
            poly << pt(p.w(int(1 + i * 2)), p.w(int(2 + i * 2)));
        }
        if (function == R_Polygon) {
            fill.addPolygon(poly);
            fill.closeSubpath();
        }
        outline.addPolygon(poly.translated(kHalf));
        if (function == R_Polygon) {
            outline.closeSubpath();
        }
        paintShape(fill, outline, function == R_Polygon);
        return true;
    }
    case R_PolyPolygon: {
        const qsizetype polys = p.u16(0);
        qint64 total = 0;
        for (qsizetype i = 0; i < polys; ++i) {
            total += p.u16(2 + i * 2);
        }
        const qsizetype first = 2 + polys * 2;
        if (!p.has(first) || (p.size() - first) / 4 < total) {
            return true;
        }
        qsizetype at = first;
        for (qsizetype i = 0; i < polys; ++i) {
            QPolygonF poly;
            for (int k = 0, n = p.u16(2 + i * 2); k < n; ++k, at += 4) {
                poly << pt(qint16(p.u16(at)), qint16(p.u16(at + 2)));
            }
            if (poly.size() >= 2) {
                fill.addPolygon(poly);
                fill.closeSubpath();
                outline.addPolygon(poly.translated(kHalf));
                outline.closeSubpath();
            }
        }
        paintShape(fill, outline, true);
        return true;
    }
    case R_Rectangle:
    case R_Ellipse:
    case R_RoundRect: {
        const int k = function == R_RoundRect ? 2 : 0; // corner size comes first
        if (!p.has(8 + k * 2)) {
            return true;
        }
        const QRectF r = rectOf(p.w(k + 3), p.w(k + 2), p.w(k + 1), p.w(k));
        const QRectF inner = r.adjusted(0.5, 0.5, -0.5, -0.5);
        if (function == R_Rectangle) {
            fill.addRect(r);
            outline.addRect(inner);
        } else if (function == R_Ellipse) {
            fill.addEllipse(r);
            outline.addEllipse(inner);
        } else {
            const double rx = std::min(std::abs(p.w(1) * axX.scale) / 2, r.width() / 2);
            const double ry = std::min(std::abs(p.w(0) * axY.scale) / 2, r.height() / 2);
            fill.addRoundedRect(r, rx, ry);
            outline.addRoundedRect(inner, rx, ry);
        }
        paintShape(fill, outline, true);
        return true;
    }
    case R_Arc:
    case R_Pie:
    case R_Chord: {
        if (!p.has(16)) {
            return true;
        }
        const QRectF r = rectOf(p.w(7), p.w(6), p.w(5), p.w(4)).adjusted(0.5, 0.5, -0.5, -0.5);
        if (r.width() <= 0 || r.height() <= 0) {
            return true;
        }
        const double start = ellipseAngle(r, pt(p.w(3), p.w(2)));
        double sweep = ellipseAngle(r, pt(p.w(1), p.w(0))) - start;
        while (sweep <= 0) { // Windows draws counter-clockwise; equal ends make a full turn
            sweep += 360;
        }
        QPainterPath path;
        if (function == R_Pie) {
            path.moveTo(r.center());
        } else {
            path.arcMoveTo(r, start);
        }
        path.arcTo(r, start, sweep);
        if (function != R_Arc) {
            path.closeSubpath();
            fill = path;
        }
        paintShape(fill, path, function != R_Arc);
        return true;
    }
    case R_FillRegion:
    case R_PaintRegion:
    case R_FrameRegion:
    case R_InvertRegion: {
        const int region = p.u16(0);
        if (!p.has(2) || size_t(region) >= objects.size() ||
            objects[size_t(region)].kind != GdiObject::Region) {
            return true;
        }
        const QRegion area = regionOf(objects[size_t(region)]);
        const int brushIndex = p.u16(2);
        QBrush brush = brushFor(dc.brush);
        if (function == R_FillRegion || function == R_FrameRegion) {
            if (size_t(brushIndex) >= objects.size() ||
                objects[size_t(brushIndex)].kind != GdiObject::Brush) {
                return true;
            }
            brush = brushFor(objects[size_t(brushIndex)].brush);
        }
        QRegion paint = area;
        if (function == R_FrameRegion) { // the region less itself shrunk by the frame size
            const int w = int(std::min(std::abs(p.w(3) * axX.scale), 1e4));
            const int h = int(std::min(std::abs(p.w(2) * axY.scale), 1e4));
            paint -= area & area.translated(w, 0) & area.translated(-w, 0) & area.translated(0, h) &
                     area.translated(0, -h);
        }
        fillRect(paint.boundingRect(), brush, function == R_InvertRegion ? 0x55 : 0xF0, &paint);
        return true;
    }
    case R_SetPixel: {
        if (!p.has(8) || !beginDraw()) {
            return true;
        }
        const QPointF at = pt(p.w(3), p.w(2));
        const QRectF cell(std::floor(at.x()), std::floor(at.y()), 1, 1);
        if (charge(cell, 1) && painter &&
            cell.intersects(QRectF(QPointF(0, 0), QSizeF(setup.canvas)))) {
            applyClip();
            painter->fillRect(cell, QColor::fromRgb(color(p.u32(0))));
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace wmfplay
