#pragma once

#include <QImage>
#include <QtGlobal>
#include <vector>

// Coverage masks in device pixels, one value from 0 to 255 a pixel, for the effects drawn
// around a caption's glyphs.
struct Mask {
    int width = 0;
    int height = 0;
    std::vector<quint8> alpha;

    quint8 at(int x, int y) const { return alpha[size_t(y) * size_t(width) + size_t(x)]; }
};

// The alpha channel of an image with one.
Mask MaskOf(const QImage &image);

// The mask grown by `radius` pixels all round: every pixel within that distance of a pixel at
// least half covered is covered, with a soft edge one pixel wide; what was covered stays.
Mask Grown(const Mask &mask, qreal radius);

// The mask moved by whole pixels, what leaves it dropped.
Mask Shifted(const Mask &mask, int dx, int dy);

// A soft blur: three box blurs of the given radius, along rows and columns, nothing outside.
void Blur(Mask &mask, int radius);

// An image of the mask in one colour, its alpha scaled by the mask (and by opacity).
QImage Painted(const Mask &mask, const QColor &colour, qreal opacity = 1.0);
