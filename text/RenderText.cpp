#include "text/RenderText.h"

#include "app/ErrorReport.h"
#include "platform/PictureBox.h"
#include "platform/RichTextBox.h"
#include "text/BoxCaption.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cmath>

namespace {

float twipsPerPixel(bool horizontal) {
    qreal dpi = 96.0;
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        dpi = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    }
    if (!(dpi > 0.0)) {
        dpi = 96.0;
    }
    return float(1440.0 / dpi);
}

// A single-precision result that overflowed or is not a number is a run-time failure.
float checked(float value) {
    if (!std::isfinite(value)) {
        throw RuntimeError("Overflow");
    }
    return value;
}

qint64 toPixels(qint32 twips, float perPixel) {
    return qint64(std::llround(double(twips) / double(perPixel)));
}

} // namespace

TwipsRectangle BoxRectangleInTwips(float left, float top, float width, float tx, float ty) {
    TwipsRectangle r{};
    r.left = checked(left * tx);
    r.right = checked(r.left + checked(width * tx));
    r.top = checked(top * ty);
    r.bottom = 1.0e6f;
    return r;
}

qint32 RoundTwips(float value) {
    if (!std::isfinite(value) || value >= 2147483648.0f || value < -2147483648.0f) {
        throw RuntimeError("Overflow");
    }
    return qint32(std::nearbyint(value));
}

float ScreenTwipsPerPixelX() {
    return twipsPerPixel(true);
}

float ScreenTwipsPerPixelY() {
    return twipsPerPixel(false);
}

namespace {

// The rectangle in whole pixels of the picture box, rounded as the rich-edit rectangle is.
struct PixelRectangle {
    qint64 x0, y0, x1, y1;
};

PixelRectangle toPixelRectangle(float left, float right, float top, float bottom) {
    const float tx = ScreenTwipsPerPixelX();
    const float ty = ScreenTwipsPerPixelY();
    return {toPixels(RoundTwips(left), tx), toPixels(RoundTwips(top), ty),
            toPixels(RoundTwips(right), tx), toPixels(RoundTwips(bottom), ty)};
}

// Where the caption can land, in the picture box's pixels: the rectangle's column from its top
// down through the caption's extent, within the rectangle and the box.
QRect renderArea(const PixelRectangle &r, const Caption &caption, QSizeF box, QSize picture) {
    const QSizeF extent = CaptionExtent(caption, QSizeF(qreal(r.x1 - r.x0), box.height()));
    const qint64 captionBottom = r.y0 + qint64(std::ceil(extent.height()));
    const qint64 left = qMax<qint64>(r.x0, 0);
    const qint64 top = qMax<qint64>(r.y0, 0);
    const qint64 right = qMin<qint64>(r.x1, picture.width());
    const qint64 bottom = qMin<qint64>(qMin(r.y1, captionBottom), picture.height());
    if (right <= left || bottom <= top) {
        return QRect();
    }
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

} // namespace

QRect TextRenderArea(const RichTextBox *richtext, float left, float right, float top, float bottom,
                     QSize picture, const CaptionEffects &effects) {
    const PixelRectangle r = toPixelRectangle(left, right, top, bottom);
    if (r.x1 <= r.x0 || r.y1 <= r.y0) {
        return QRect();
    }
    return renderArea(r, CaptionOf(*richtext, effects), QSizeF(richtext->size()), picture);
}

namespace {

// The caption drawn into the image through the transform from the picture box's pixels, laid out
// in the rectangle and clipped to where it can land on a picture box of that size.
void drawInto(QImage &image, const QTransform &fromBox, const PixelRectangle &r,
              const RichTextBox *richtext, const CaptionEffects &effects, QSize picture) {
    if (r.x1 <= r.x0 || r.y1 <= r.y0 || image.isNull()) {
        return;
    }
    const Caption caption = CaptionOf(*richtext, effects);
    const QSizeF area(qreal(r.x1 - r.x0), qreal(richtext->height()));
    // Nothing is drawn outside this area, which is what undo keeps of the picture.
    const QRect clip = renderArea(r, caption, area, picture);
    if (clip.isEmpty()) {
        return;
    }
    QPainter painter(&image);
    painter.setTransform(fromBox);
    painter.setClipRect(clip);
    painter.translate(qreal(r.x0), qreal(r.y0));
    DrawCaption(painter, caption, area);
}

} // namespace

void RenderTextToPicture(PictureBox *picture, RichTextBox *richtext, float left, float right,
                         float top, float bottom, const CaptionEffects &effects) {
    const PixelRectangle r = toPixelRectangle(left, right, top, bottom);
    if (r.x1 <= r.x0 || r.y1 <= r.y0) {
        return;
    }
    // What the box shows lands in its canvas: its own surface, or for a view of the zoom source
    // that picture itself, through the view's inverse scale, so that the text is drawn at the
    // picture's own resolution and lands where the box showed it.
    const PictureBox::Canvas canvas = picture->canvas();
    if (canvas.image == nullptr) {
        return;
    }
    drawInto(*canvas.image, canvas.fromBox, r, richtext, effects, picture->size());
}

void DrawBoxCaption(QImage &image, const QTransform &fromBox, const RichTextBox *box,
                    const CaptionEffects &effects, QSize picture) {
    const TwipsRectangle t =
        BoxRectangleInTwips(float(box->x()), float(box->y()), float(box->width()),
                            ScreenTwipsPerPixelX(), ScreenTwipsPerPixelY());
    drawInto(image, fromBox, toPixelRectangle(t.left, t.right, t.top, t.bottom), box, effects,
             picture);
}
