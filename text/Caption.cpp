#include "text/Caption.h"

#include "text/CaptionMasks.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextDocument>
#include <cmath>
#include <memory>

namespace {

// The caption's text laid out as a text box of this width lays out its own: inside a margin as
// wide as the effects reach, lines wrapped at word boundaries (or anywhere, for a word longer
// than the line).
std::unique_ptr<QTextDocument> layOut(const Caption &caption, qreal width) {
    auto doc = std::make_unique<QTextDocument>();
    doc->setDocumentMargin(CaptionPadding(caption));
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

void drawText(QPainter &painter, const QTextDocument &doc, const QColor &colour,
              const QRectF &clip) {
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette.setColor(QPalette::Text, colour);
    context.clip = clip;
    doc.documentLayout()->draw(&painter, context);
}

// The shadow and the outline, worked out in device pixels from the glyphs as they are drawn:
// the glyphs' coverage, grown by the outline's width for the outline, moved and blurred for the
// shadow (of the outlined text where there is an outline), each laid down in its colour.
void drawEffects(QPainter &painter, const Caption &caption, const QTextDocument &doc,
                 const QRectF &extent) {
    const CaptionEffects &effects = caption.effects;
    const QTransform device = painter.worldTransform();
    const qreal scale = std::sqrt(qAbs(device.determinant()));
    const QRect layer = device.mapRect(extent).toAlignedRect();
    if (layer.isEmpty() || !(scale > 0)) {
        return;
    }
    QImage glyphs(layer.size(), QImage::Format_ARGB32_Premultiplied);
    glyphs.fill(Qt::transparent);
    {
        QPainter gp(&glyphs);
        gp.setTransform(device * QTransform::fromTranslate(-layer.x(), -layer.y()));
        drawText(gp, doc, QColor(Qt::black), extent);
    }
    Mask shape = MaskOf(glyphs);
    if (effects.outlineWidth > 0) {
        shape = Grown(shape, effects.outlineWidth * scale);
    }
    painter.save();
    painter.resetTransform();
    if (effects.shadow) {
        const int offset = int(std::lround(shadowOffset(caption) * scale));
        Mask shadow = Shifted(shape, offset, offset);
        Blur(shadow, qMax(1, int(std::lround(shadowBlur(caption) * scale / 1.5))));
        painter.drawImage(layer.topLeft(), Painted(shadow, QColor(Qt::black), ShadowOpacity));
    }
    if (effects.outlineWidth > 0) {
        painter.drawImage(layer.topLeft(), Painted(shape, effects.outlineColour));
    }
    painter.restore();
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
    return int(std::ceil(QFontMetricsF(caption.font).height()));
}

int CaptionPadding(const Caption &caption) {
    qreal reach = caption.effects.outlineWidth;
    if (caption.effects.shadow) {
        reach += shadowOffset(caption) + 2.0 * shadowBlur(caption);
    }
    return int(std::ceil(reach));
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
        drawEffects(painter, caption, *doc, extent);
    }
    if (glyphs) {
        drawText(painter, *doc, caption.colour, extent);
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
