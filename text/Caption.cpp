#include "text/Caption.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QRawFont>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// The caption's text laid out as a text box of this width lays out its own: no margin, lines
// wrapped at word boundaries (or anywhere, for a word longer than the line).
std::unique_ptr<QTextDocument> layOut(const Caption &caption, qreal width) {
    auto doc = std::make_unique<QTextDocument>();
    doc->setDocumentMargin(0);
    doc->setDefaultFont(caption.font);
    QTextOption option;
    option.setAlignment(caption.alignment & Qt::AlignHorizontal_Mask);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc->setDefaultTextOption(option);
    doc->setPlainText(caption.text);
    doc->setTextWidth(width);
    return doc;
}

// The font's size in pixels at 96 dots per inch.
qreal pixelSize(const QFont &font) {
    if (font.pixelSize() > 0) {
        return font.pixelSize();
    }
    return qMax<qreal>(1.0, font.pointSizeF() * 96.0 / 72.0);
}

// The shadow lies this far right and down, and is blurred over about this distance.
qreal shadowOffset(const Caption &caption) {
    return qMax<qreal>(1.0, pixelSize(caption.font) * 0.06);
}
qreal shadowBlur(const Caption &caption) {
    return qMax<qreal>(1.0, pixelSize(caption.font) * 0.08);
}
constexpr qreal ShadowOpacity = 0.6;

// The outlines of all glyphs of the laid-out text, where the layout places them.
QPainterPath glyphOutlines(const QTextDocument &doc) {
    QPainterPath path;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        const QTextLayout *layout = block.layout();
        if (layout == nullptr) {
            continue;
        }
        const QPointF origin = layout->position();
        for (const QGlyphRun &run : layout->glyphRuns()) {
            const QRawFont font = run.rawFont();
            const QList<quint32> glyphs = run.glyphIndexes();
            const QList<QPointF> positions = run.positions();
            for (qsizetype i = 0; i < glyphs.size() && i < positions.size(); ++i) {
                QPainterPath glyph = font.pathForGlyph(glyphs[i]);
                glyph.translate(origin + positions[i]);
                path.addPath(glyph);
            }
        }
    }
    path.setFillRule(Qt::WindingFill);
    return path;
}

// One box blur of the given radius along rows (step 1) or columns (step width), zero outside.
void boxBlurPass(std::vector<quint16> &values, int width, int height, int radius, bool rows) {
    const int lines = rows ? height : width;
    const int length = rows ? width : height;
    const int step = rows ? 1 : width;
    const int window = 2 * radius + 1;
    std::vector<quint16> line(size_t(length), 0);
    for (int l = 0; l < lines; ++l) {
        quint16 *start = values.data() + (rows ? qsizetype(l) * width : l);
        for (int i = 0; i < length; ++i) {
            line[size_t(i)] = start[qsizetype(i) * step];
        }
        int sum = 0;
        for (int i = 0; i < qMin(radius, length); ++i) {
            sum += line[size_t(i)];
        }
        for (int i = 0; i < length; ++i) {
            if (i + radius < length) {
                sum += line[size_t(i + radius)];
            }
            if (i - radius - 1 >= 0) {
                sum -= line[size_t(i - radius - 1)];
            }
            start[qsizetype(i) * step] = quint16((sum + window / 2) / window);
        }
    }
}

// A soft shadow of the shape, drawn in device pixels: the shape filled into a layer, its
// coverage blurred three times over, then laid down in black at the shadow's opacity.
void drawShadow(QPainter &painter, const Caption &caption, const QPainterPath &shape,
                const QRectF &extent) {
    const QTransform device = painter.worldTransform();
    const qreal scale = std::sqrt(qAbs(device.determinant()));
    const qreal offset = shadowOffset(caption);
    const int radius = qMax(1, int(std::lround(shadowBlur(caption) * scale / 1.5)));
    const QRectF reach = shape.boundingRect().translated(offset, offset).intersected(extent);
    QRect bounds = device.mapRect(reach).toAlignedRect().adjusted(-3 * radius, -3 * radius,
                                                                  3 * radius, 3 * radius);
    bounds &= device.mapRect(extent).toAlignedRect();
    if (bounds.isEmpty()) {
        return;
    }
    QImage layer(bounds.size(), QImage::Format_Alpha8);
    layer.fill(0);
    {
        QPainter lp(&layer);
        lp.setRenderHint(QPainter::Antialiasing);
        lp.setTransform(QTransform::fromTranslate(offset, offset) * device *
                        QTransform::fromTranslate(-bounds.x(), -bounds.y()));
        lp.fillPath(shape, QColor(0, 0, 0, 255));
    }
    const int w = layer.width(), h = layer.height();
    std::vector<quint16> alpha(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y) {
        const uchar *row = layer.constScanLine(y);
        for (int x = 0; x < w; ++x) {
            alpha[size_t(y) * size_t(w) + size_t(x)] = row[x];
        }
    }
    for (int pass = 0; pass < 3; ++pass) {
        boxBlurPass(alpha, w, h, radius, true);
        boxBlurPass(alpha, w, h, radius, false);
    }
    QImage shadow(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < h; ++y) {
        auto *row = reinterpret_cast<QRgb *>(shadow.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int a =
                int(std::lround(alpha[size_t(y) * size_t(w) + size_t(x)] * ShadowOpacity));
            row[x] = qRgba(0, 0, 0, a);
        }
    }
    painter.save();
    painter.resetTransform();
    painter.drawImage(bounds.topLeft(), shadow);
    painter.restore();
}

} // namespace

namespace {

// How far the effects reach out of the glyphs.
qreal effectsReach(const Caption &caption) {
    qreal reach = caption.effects.outlineWidth;
    if (caption.effects.shadow) {
        reach += shadowOffset(caption) + 2.0 * shadowBlur(caption);
    }
    return reach;
}

QRectF extentOf(const Caption &caption, const QTextDocument &doc, QSizeF area) {
    qreal height = doc.size().height() + CaptionRoomBelow(caption);
    if (caption.effects.plateOpacity > 0) {
        height = qMax(height, area.height());
    }
    return QRectF(0, 0, area.width(), height);
}

} // namespace

int CaptionRoomBelow(const Caption &caption) {
    return int(std::ceil(qMax(QFontMetricsF(caption.font).height(), effectsReach(caption))));
}

QSizeF CaptionTextSize(const Caption &caption, qreal width) {
    const std::unique_ptr<QTextDocument> doc = layOut(caption, width > 0 ? width : -1.0);
    const QSizeF size = doc->size();
    return QSizeF(width > 0 ? width : doc->idealWidth(), size.height());
}

QSizeF CaptionExtent(const Caption &caption, QSizeF area) {
    return extentOf(caption, *layOut(caption, area.width()), area).size();
}

void DrawCaption(QPainter &painter, const Caption &caption, QSizeF area, bool glyphs) {
    if (!(area.width() > 0)) {
        return;
    }
    const std::unique_ptr<QTextDocument> doc = layOut(caption, area.width());
    const QRectF extent = extentOf(caption, *doc, area);
    const CaptionEffects &effects = caption.effects;

    painter.save();
    painter.setClipRect(extent, Qt::IntersectClip);
    if (effects.plateOpacity > 0) {
        QColor plate = effects.plateColour;
        plate.setAlphaF(float(qBound(0, effects.plateOpacity, 100)) / 100.0f);
        painter.fillRect(extent, plate);
    }
    if (effects.shadow || effects.outlineWidth > 0) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        const QPainterPath outlines = glyphOutlines(*doc);
        QPainterPath ring;
        if (effects.outlineWidth > 0) {
            QPainterPathStroker stroker;
            // Half the pen lies inside the glyph, where the glyph covers it.
            stroker.setWidth(2.0 * effects.outlineWidth);
            stroker.setJoinStyle(Qt::RoundJoin);
            stroker.setCapStyle(Qt::RoundCap);
            ring = stroker.createStroke(outlines);
        }
        if (effects.shadow) {
            QPainterPath shape = outlines;
            if (!ring.isEmpty()) {
                shape.addPath(ring);
            }
            drawShadow(painter, caption, shape, extent);
        }
        if (!ring.isEmpty()) {
            painter.fillPath(ring, effects.outlineColour);
        }
        painter.restore();
    }
    if (glyphs) {
        QAbstractTextDocumentLayout::PaintContext context;
        context.palette.setColor(QPalette::Text, caption.colour);
        context.clip = extent;
        doc->documentLayout()->draw(&painter, context);
    }
    painter.restore();
}

QRect CaptionFootprint(const Caption &caption, QSize image, QPointF at, QSizeF area, qreal scale) {
    const QSizeF extent = CaptionExtent(caption, area);
    const QRectF placed(at, extent * scale);
    return placed.toAlignedRect() & QRect(QPoint(0, 0), image);
}

QRect RenderCaption(QImage &image, const Caption &caption, QPointF at, QSizeF area, qreal scale) {
    const QRect footprint = CaptionFootprint(caption, image.size(), at, area, scale);
    if (footprint.isEmpty() || !(scale > 0)) {
        return QRect();
    }
    QPainter painter(&image);
    painter.translate(at);
    painter.scale(scale, scale);
    DrawCaption(painter, caption, area, true);
    return footprint;
}
