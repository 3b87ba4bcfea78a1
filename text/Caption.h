#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QSizeF>
#include <QString>

class QPainter;

// What a caption has around and behind its glyphs.
struct CaptionEffects {
    // An outline around every glyph: its width in pixels (0: none) and its colour.
    int outlineWidth = 0;
    QColor outlineColour = QColor(Qt::black);
    // A soft shadow below and to the right of the text and its outline.
    bool shadow = false;
    // A plate behind the text that fills the caption's area: its opacity in percent (0: none)
    // and its colour.
    int plateOpacity = 0;
    QColor plateColour = QColor(Qt::black);

    bool operator==(const CaptionEffects &) const = default;
};

// How a caption looks: its text and all that decides its pixels besides its place and size.
// Sizes are in pixels of the screen the caption was set on (fonts at its 96 dots per inch).
struct Caption {
    QString text;
    QFont font;
    QColor colour = QColor(Qt::black);
    // Left, centre or right across the caption's width.
    Qt::Alignment alignment = Qt::AlignLeft;
    CaptionEffects effects;

    bool operator==(const Caption &) const = default;
};

// Draws the caption from the painter's origin, in the painter's units: the text laid out at the
// area's width, within its padding, as a text box of that width and document margin lays it
// out, the plate filling the caption's extent, everything clipped to that extent. The extent is
// the area's width by the padded text's height and the room below it; with a plate, never less
// than the area's height. Without glyphs it draws only what
// lies under them (plate, shadow and outline), for a text box that draws its glyphs itself. The
// result depends on nothing but the caption, the area and the painter's transform.
void DrawCaption(QPainter &painter, const Caption &caption, QSizeF area, bool glyphs = true);

// The size of the caption's laid-out text at this width (no room below it); a width of 0 or less
// lays it out without wrapping, and the size's width is then that of its longest line.
QSizeF CaptionTextSize(const Caption &caption, qreal width);

// The caption's extent for an area of this size (see DrawCaption).
QSizeF CaptionExtent(const Caption &caption, QSizeF area);

// Room kept below the last line of text, in pixels: a line of the font, for glyphs that reach
// below their lines.
int CaptionRoomBelow(const Caption &caption);

// The margin around the text, in pixels, as far as the effects reach out of the glyphs (0
// without outline and shadow), so that they show whole.
int CaptionPadding(const Caption &caption);

// Stamps the caption into the image, its area's top-left corner at `at` in pixels of the image
// and every length scaled by `scale` (pixels of the image per pixel of the caption). Returns the
// part of the image it may have changed (within the image; empty when nothing).
QRect RenderCaption(QImage &image, const Caption &caption, QPointF at, QSizeF area, qreal scale);

// The part of an image of the given size that the caption stamped at `at` with this area and
// scale may change.
QRect CaptionFootprint(const Caption &caption, QSize image, QPointF at, QSizeF area, qreal scale);
