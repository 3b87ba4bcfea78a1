// The drawing side of metafile playback: the work budget, clipping, raster operations, pens and
// brushes, and painting a shape's fill and outline.
//
// Pixel model: a logical point lands on a continuous image position; fills cover the area inside
// the shape (so a rectangle from l to r covers pixels l..r-1, as in Windows), and pen outlines run
// through pixel centres, half a pixel right and down of the position, where Windows draws them.
#include "workspace/MetafilePlayback.h"

#include <algorithm>
#include <cmath>

namespace wmfplay {

namespace {

constexpr double kSafeMargin = 65536;    // geometry beyond the canvas by more is clipped first
constexpr double kMaxDashedLength = 1e6; // longer dashed outlines are drawn solid

// Sutherland-Hodgman clipping of a closed polygon to a rectangle.
QPolygonF clipPolygon(const QPolygonF &in, const QRectF &r) {
    QPolygonF poly = in;
    for (int edge = 0; edge < 4 && !poly.isEmpty(); ++edge) {
        auto inside = [&](const QPointF &q) {
            switch (edge) {
            case 0:
                return q.x() >= r.left();
            case 1:
                return q.x() <= r.right();
            case 2:
                return q.y() >= r.top();
            default:
                return q.y() <= r.bottom();
            }
        };
        auto cross = [&](const QPointF &a, const QPointF &b) {
            const double bound = edge == 0   ? r.left()
                                 : edge == 1 ? r.right()
                                 : edge == 2 ? r.top()
                                             : r.bottom();
            const double t =
                edge < 2 ? (bound - a.x()) / (b.x() - a.x()) : (bound - a.y()) / (b.y() - a.y());
            return a + (b - a) * t;
        };
        QPolygonF out;
        for (qsizetype i = 0; i < poly.size(); ++i) {
            const QPointF &cur = poly[i], &prev = poly[(i + poly.size() - 1) % poly.size()];
            if (inside(cur)) {
                if (!inside(prev)) {
                    out << cross(prev, cur);
                }
                out << cur;
            } else if (inside(prev)) {
                out << cross(prev, cur);
            }
        }
        poly = out;
    }
    return poly;
}

// Liang-Barsky clipping of one segment; false when nothing is left.
bool clipSegment(QPointF *a, QPointF *b, const QRectF &r) {
    const double dx = b->x() - a->x(), dy = b->y() - a->y();
    double t0 = 0, t1 = 1;
    const double pq[4][2] = {{-dx, a->x() - r.left()},
                             {dx, r.right() - a->x()},
                             {-dy, a->y() - r.top()},
                             {dy, r.bottom() - a->y()}};
    for (const auto &[pp, qq] : pq) {
        if (pp == 0) {
            if (qq < 0) {
                return false;
            }
        } else if (pp < 0) {
            t0 = std::max(t0, qq / pp);
        } else {
            t1 = std::min(t1, qq / pp);
        }
    }
    if (t0 > t1) {
        return false;
    }
    const QPointF start = *a;
    *a = start + QPointF(dx, dy) * t0;
    *b = start + QPointF(dx, dy) * t1;
    return true;
}

QPainterPath clipFill(const QPainterPath &path, const QRectF &r) {
    QPainterPath out;
    out.setFillRule(path.fillRule());
    for (const QPolygonF &poly : path.toSubpathPolygons()) {
        const QPolygonF clipped = clipPolygon(poly, r);
        if (clipped.size() >= 3) {
            out.addPolygon(clipped);
            out.closeSubpath();
        }
    }
    return out;
}

QPainterPath clipOutline(const QPainterPath &path, const QRectF &r) {
    QPainterPath out;
    for (const QPolygonF &poly : path.toSubpathPolygons()) {
        for (qsizetype i = 1; i < poly.size(); ++i) {
            QPointF a = poly[i - 1], b = poly[i];
            if (clipSegment(&a, &b, r)) {
                if (out.elementCount() == 0 || out.currentPosition() != a) {
                    out.moveTo(a);
                }
                out.lineTo(b);
            }
        }
    }
    return out;
}

// The length of a path's control polygon, each segment counted up to cap.
double pathLength(const QPainterPath &path, double cap) {
    double length = 0;
    for (int i = 1; i < path.elementCount(); ++i) {
        const QPainterPath::Element &a = path.elementAt(i - 1), &b = path.elementAt(i);
        if (!b.isMoveTo()) {
            length += std::min(std::hypot(b.x - a.x, b.y - a.y), cap);
        }
    }
    return length;
}

} // namespace

bool Playback::beginDraw() {
    return !stopped;
}

void Playback::fixFrame() {
    frameFixed = true;
    const QSize device = setup.deviceSize;
    if (viewportSetByFile && !device.isEmpty() &&
        (dc.mapMode == MM_ISOTROPIC || dc.mapMode == MM_ANISOTROPIC)) {
        // Fit the viewport the file set up onto the device area of the frame.
        const double left = double(std::min(dc.vpOrgX, dc.vpOrgX + dc.vpExtX));
        const double top = double(std::min(dc.vpOrgY, dc.vpOrgY + dc.vpExtY));
        const double sx = setup.devX.scale * device.width() / std::abs(double(dc.vpExtX));
        const double sy = setup.devY.scale * device.height() / std::abs(double(dc.vpExtY));
        setup.devX = {sx, setup.devX.offset - sx * left};
        setup.devY = {sy, setup.devY.offset - sy * top};
        updateMapping();
    }
}

bool Playback::charge(const QRectF &box, qint64 points, qint64 fixed) {
    qint64 cost = fixed + points * kPointCost;
    QRectF touched = box.normalized();
    if (dc.clipped) {
        cost += qint64(dc.clip.rectCount()) * kPointCost; // a complex clip slows every drawing
        touched = touched.intersected(QRectF(dc.clip.boundingRect()));
    }
    if (!setup.canvas.isEmpty()) {
        touched = touched.intersected(QRectF(QPointF(0, 0), QSizeF(setup.canvas)));
        if (!touched.isEmpty()) {
            const qint64 h = qint64(touched.height()) + 1;
            cost += (qint64(touched.width()) + 1) * h + points * h;
        }
    }
    if (!touched.isEmpty()) {
        drawn = drawn.united(touched);
    }
    work += cost;
    if (work > kWorkBudget) {
        stopped = true;
    }
    return !stopped;
}

void Playback::applyClip() {
    if (!painter || !clipDirty) {
        return;
    }
    clipDirty = false;
    if (dc.clipped) {
        painter->setClipRegion(dc.clip);
    } else {
        painter->setClipping(false);
    }
}

// Sets the painter up for a binary raster operation. False when nothing is to be drawn.
// *override receives the colour that replaces pen and brush colours, if any.
bool Playback::applyRop(int rop2, QColor *override) {
    using CM = QPainter::CompositionMode;
    CM mode = QPainter::CompositionMode_SourceOver;
    switch (rop2) {
    case 1: // R2_BLACK
        *override = Qt::black;
        break;
    case 16: // R2_WHITE
        *override = Qt::white;
        break;
    case 11: // R2_NOP
        return false;
    case 2:
        mode = QPainter::RasterOp_NotSourceAndNotDestination;
        break;
    case 3:
        mode = QPainter::RasterOp_NotSourceAndDestination;
        break;
    case 4: // R2_NOTCOPYPEN
        mode = QPainter::RasterOp_NotSource;
        break;
    case 5:
        mode = QPainter::RasterOp_SourceAndNotDestination;
        break;
    case 6: // R2_NOT
        mode = QPainter::RasterOp_NotDestination;
        break;
    case 7: // R2_XORPEN
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    case 8:
        mode = QPainter::RasterOp_NotSourceOrNotDestination;
        break;
    case 9: // R2_MASKPEN
        mode = QPainter::RasterOp_SourceAndDestination;
        break;
    case 10:
        mode = QPainter::RasterOp_NotSourceXorDestination;
        break;
    case 12:
        mode = QPainter::RasterOp_NotSourceOrDestination;
        break;
    case 14:
        mode = QPainter::RasterOp_SourceOrNotDestination;
        break;
    case 15: // R2_MERGEPEN
        mode = QPainter::RasterOp_SourceOrDestination;
        break;
    default: // R2_COPYPEN
        break;
    }
    const bool raster = mode != QPainter::CompositionMode_SourceOver;
    rasterOps = rasterOps || raster;
    painter->setCompositionMode(mode);
    painter->setRenderHint(QPainter::Antialiasing, !raster);
    return true;
}

QPen Playback::currentPen(double *width) const {
    const LogPen &logPen = dc.pen;
    const int style = logPen.style & 0xF;
    *width = 0;
    if (style == 5) { // PS_NULL
        return Qt::NoPen;
    }
    double w = logPen.width == 0 ? 1.0 : std::abs(logPen.width * axX.scale);
    const double cap =
        setup.canvas.isEmpty() ? 1e6 : 2.0 * (setup.canvas.width() + setup.canvas.height()) + 16;
    w = std::clamp(w, 1.0, cap);
    *width = w;
    QPen pen(QColor::fromRgb(logPen.color), w);
    // Windows dashes only thin pens; the pattern is in pixels.
    static const QList<qreal> dashes[] = {{18, 6}, {3, 3}, {9, 6, 3, 6}, {9, 3, 3, 3, 3, 3}};
    if (style >= 1 && style <= 4 && (std::abs(logPen.width) <= 1 || w <= 1.5)) {
        QList<qreal> pattern = dashes[style - 1];
        for (qreal &d : pattern) {
            d /= w;
        }
        pen.setDashPattern(pattern);
        pen.setCapStyle(Qt::FlatCap);
    } else if (w <= 1.5) {
        pen.setCapStyle(Qt::SquareCap);
        pen.setJoinStyle(Qt::MiterJoin);
    } else {
        const int capBits = logPen.style & 0x0F00, joinBits = logPen.style & 0xF000;
        pen.setCapStyle(capBits == 0x100   ? Qt::SquareCap
                        : capBits == 0x200 ? Qt::FlatCap
                                           : Qt::RoundCap);
        pen.setJoinStyle(joinBits == 0x1000   ? Qt::BevelJoin
                         : joinBits == 0x2000 ? Qt::MiterJoin
                                              : Qt::RoundJoin);
    }
    return pen;
}

QBrush Playback::brushFor(const LogBrush &logBrush) const {
    static const Qt::BrushStyle hatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                             Qt::FDiagPattern, Qt::BDiagPattern,
                                             Qt::CrossPattern, Qt::DiagCrossPattern};
    const QColor color = QColor::fromRgb(logBrush.color);
    switch (logBrush.style) {
    case 1: // BS_NULL
        return Qt::NoBrush;
    case 2: // BS_HATCHED
        return logBrush.hatch < 6 ? QBrush(color, hatches[logBrush.hatch]) : QBrush(color);
    default:
        return logBrush.pattern.isNull() ? QBrush(color) : QBrush(logBrush.pattern);
    }
}

void Playback::paintShape(const QPainterPath &fillPath, const QPainterPath &outline,
                          bool closedFill) {
    if (!beginDraw()) {
        return;
    }
    double penWidth = 0;
    QPen pen = currentPen(&penWidth);
    QBrush brush = closedFill ? brushFor(dc.brush) : QBrush();
    const bool filling = brush.style() != Qt::NoBrush && !fillPath.isEmpty();
    const bool stroking = pen.style() != Qt::NoPen && !outline.isEmpty();
    QRectF box;
    if (filling) {
        box = fillPath.controlPointRect();
    }
    if (stroking) {
        const double m =
            pen.joinStyle() == Qt::MiterJoin && penWidth > 1.5 ? penWidth : penWidth / 2;
        box = box.united(outline.controlPointRect().adjusted(-m, -m, m, m));
    }
    // Qt's antialiasing slows down badly on long crossing edges: a shape whose edges add up to
    // more than a few times the canvas perimeter is drawn aliased, and its length is paid for.
    const double perimeter = 2.0 * (setup.canvas.width() + setup.canvas.height());
    const double length = (filling ? pathLength(fillPath, perimeter) : 0) +
                          (stroking ? pathLength(outline, perimeter) : 0);
    const bool smooth = length <= std::max(4.0 * perimeter, 4096.0);
    if (!charge(box, fillPath.elementCount() + outline.elementCount(),
                kDrawCost + qint64(length) * kLengthCost) ||
        !painter || (!filling && !stroking)) {
        return;
    }
    applyClip();
    QColor override;
    if (!applyRop(dc.rop2, &override)) {
        return;
    }
    if (!smooth) {
        painter->setRenderHint(QPainter::Antialiasing, false);
    }
    if (override.isValid()) {
        brush = QBrush(override);
        pen.setColor(override);
    }
    QPainterPath f = fillPath, o = outline;
    const QRectF safe = QRectF(QPointF(0, 0), QSizeF(setup.canvas))
                            .adjusted(-kSafeMargin, -kSafeMargin, kSafeMargin, kSafeMargin);
    if (!safe.contains(box)) {
        f = clipFill(f, safe);
        o = clipOutline(o, safe);
    }
    if (dc.rop2 != 13 && filling && stroking && f.elementCount() + o.elementCount() <= 200) {
        // Windows touches each pixel once: the interior does not reach under the outline
        // (which matters when the pixels are combined, not copied).
        QPainterPathStroker stroker(pen);
        f = f.subtracted(stroker.createStroke(o));
    }
    const QColor background = QColor::fromRgb(dc.bkColor);
    if (filling) {
        if (dc.bkMode == 2 && brush.style() > Qt::SolidPattern &&
            brush.style() < Qt::LinearGradientPattern) {
            painter->fillPath(f, background); // hatch gaps take the background colour
        }
        painter->fillPath(f, brush);
    }
    if (stroking) {
        if (pen.style() == Qt::CustomDashLine && o.length() > kMaxDashedLength) {
            pen.setStyle(Qt::SolidLine);
        }
        if (dc.bkMode == 2 && pen.style() == Qt::CustomDashLine) {
            QPen gaps = pen;
            gaps.setStyle(Qt::SolidLine);
            gaps.setColor(background);
            painter->strokePath(o, gaps);
        }
        painter->strokePath(o, pen);
    }
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter->setRenderHint(QPainter::Antialiasing, true);
}

// Fills a rectangle with a brush under a ternary raster operation's pattern/destination part.
void Playback::fillRect(const QRectF &rect, const QBrush &brush, int rop3, const QRegion *within) {
    const qint64 rects = within ? within->rectCount() : 0;
    if (!beginDraw() || !charge(rect, 4 + rects) || !painter || rop3 == 0xAA) { // 0xAA: dest.
        return;
    }
    applyClip();
    if (within) {
        painter->save();
        painter->setClipRegion(*within, Qt::IntersectClip);
    }
    QBrush b = brush;
    QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver;
    switch (rop3) {
    case 0x00: // BLACKNESS
        b = QBrush(Qt::black);
        break;
    case 0xFF: // WHITENESS
        b = QBrush(Qt::white);
        break;
    case 0x55: // DSTINVERT
        mode = QPainter::RasterOp_NotDestination;
        break;
    case 0x5A: // PATINVERT
        mode = QPainter::RasterOp_SourceXorDestination;
        break;
    default: // PATCOPY and the rest
        break;
    }
    rasterOps = rasterOps || mode != QPainter::CompositionMode_SourceOver;
    painter->setCompositionMode(mode);
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->fillRect(
        rect.normalized().intersected(QRectF(QPointF(-1, -1), QSizeF(setup.canvas) + QSizeF(2, 2))),
        b);
    painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter->setRenderHint(QPainter::Antialiasing, true);
    if (within) {
        painter->restore();
        clipDirty = true;
    }
}

} // namespace wmfplay
