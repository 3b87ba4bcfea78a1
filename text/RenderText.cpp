#include "text/RenderText.h"

#include "app/ErrorReport.h"
#include "platform/PictureBox.h"
#include "platform/RichTextBox.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

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

// Clears every background a format may carry (block, character and root frame), so that the
// document draws its glyphs only.
void stripBackgrounds(QTextDocument &doc) {
    QTextFrameFormat root = doc.rootFrame()->frameFormat();
    if (root.hasProperty(QTextFormat::BackgroundBrush)) {
        root.clearBackground();
        doc.rootFrame()->setFrameFormat(root);
    }
    struct Range {
        int start, end;
        QTextCharFormat format;
    };
    std::vector<Range> ranges;
    std::vector<QTextBlock> blocks;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().hasProperty(QTextFormat::BackgroundBrush)) {
            blocks.push_back(block);
        }
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextCharFormat format = fragment.charFormat();
            if (format.hasProperty(QTextFormat::BackgroundBrush)) {
                format.clearBackground();
                ranges.push_back({fragment.position(), fragment.position() + fragment.length(),
                                  std::move(format)});
            }
        }
    }
    for (const QTextBlock &block : blocks) {
        QTextBlockFormat format = block.blockFormat();
        format.clearBackground();
        QTextCursor(block).setBlockFormat(format);
    }
    QTextCursor cursor(&doc);
    for (const Range &range : ranges) {
        cursor.setPosition(range.start);
        cursor.setPosition(range.end, QTextCursor::KeepAnchor);
        cursor.setCharFormat(range.format);
    }
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

// A private copy of the box's document, laid out at the given width with no margin, exactly as
// the box lays out its own text at its own width.
std::unique_ptr<QTextDocument> layOut(const RichTextBox *richtext, qreal width) {
    const QTextDocument *source = richtext->document();
    std::unique_ptr<QTextDocument> doc(source->clone());
    doc->setDefaultFont(source->defaultFont());
    doc->setDefaultTextOption(source->defaultTextOption());
    doc->setUseDesignMetrics(source->useDesignMetrics());
    doc->setDocumentMargin(0);
    stripBackgrounds(*doc);
    doc->setTextWidth(width);
    return doc;
}

// Where the text can land, in the picture box's pixels: the rectangle's column from its top
// down to the end of the laid-out text and one line more (for glyphs that reach below their
// lines), within the rectangle and the box.
QRect renderArea(const PixelRectangle &r, const QTextDocument &doc, QSize picture) {
    const qreal lines = doc.size().height() + QFontMetricsF(doc.defaultFont()).height();
    const qint64 textBottom = r.y0 + qint64(std::ceil(lines));
    const qint64 left = qMax<qint64>(r.x0, 0);
    const qint64 top = qMax<qint64>(r.y0, 0);
    const qint64 right = qMin<qint64>(r.x1, picture.width());
    const qint64 bottom = qMin<qint64>(qMin(r.y1, textBottom), picture.height());
    if (right <= left || bottom <= top) {
        return QRect();
    }
    return QRect(int(left), int(top), int(right - left), int(bottom - top));
}

} // namespace

QRect TextRenderArea(const RichTextBox *richtext, float left, float right, float top, float bottom,
                     QSize picture) {
    const PixelRectangle r = toPixelRectangle(left, right, top, bottom);
    if (r.x1 <= r.x0 || r.y1 <= r.y0) {
        return QRect();
    }
    return renderArea(r, *layOut(richtext, qreal(r.x1 - r.x0)), picture);
}

void RenderTextToPicture(PictureBox *picture, RichTextBox *richtext, float left, float right,
                         float top, float bottom) {
    const PixelRectangle r = toPixelRectangle(left, right, top, bottom);
    if (r.x1 <= r.x0 || r.y1 <= r.y0) {
        return;
    }
    // What the box shows lands in its canvas: its own surface, or for a view of the zoom source
    // that picture itself, through the view's inverse scale, so that the text is drawn at the
    // picture's own resolution and lands where the box showed it.
    const PictureBox::Canvas canvas = picture->canvas();
    if (canvas.image == nullptr || canvas.image->isNull()) {
        return;
    }
    const std::unique_ptr<QTextDocument> doc = layOut(richtext, qreal(r.x1 - r.x0));
    // Nothing is drawn outside this area, which is what undo keeps of the picture.
    const QRect clip = renderArea(r, *doc, picture->size());
    if (clip.isEmpty()) {
        return;
    }
    QPainter painter(canvas.image);
    painter.setTransform(canvas.fromBox);
    painter.setClipRect(clip);
    painter.translate(qreal(r.x0), qreal(r.y0));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = richtext->palette();
    context.clip = QRectF(clip).translated(-qreal(r.x0), -qreal(r.y0));
    doc->documentLayout()->draw(&painter, context);
}
