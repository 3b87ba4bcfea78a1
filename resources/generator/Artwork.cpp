#include "generator/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <array>

namespace resgen {

namespace {

// The hand, pixel by pixel: 'X' outline, 'o' fill, '.' transparent. The index finger points
// up, the other three fingers are curled, the thumb rests on the left.
constexpr std::array<const char *, 22> kHand = {
    "......XX.............", //
    ".....XooX............", //
    ".....XooX............", //
    ".....XooX............", //
    ".....XooX............", //
    ".....XooXXX..........", //
    ".....XooXooXXX.......", //
    ".....XooXooXooXX.....", //
    ".....XooXooXooXoX....", //
    ".XX..XooXooXooXooX...", //
    "XooX.XooooooooXooX...", //
    "XoooXXoooooooooooX...", //
    ".XooXXoooooooooooX...", //
    "..XooXoooooooooooX...", //
    "..XooooooooooooooX...", //
    "...XoooooooooooooX...", //
    "...XooooooooooooX....", //
    "....XoooooooooooX....", //
    "....XoooooooooooX....", //
    ".....XoooooooooX.....", //
    ".....XoooooooooX.....", //
    ".....XXXXXXXXXXX.....", //
};

constexpr int kHandLeft = 4;
constexpr int kHandTop = 1;

// The letter T as a filled outline, in the 256-unit design space.
QPainterPath letterT(const QRectF &box) {
    const qreal bar = box.height() * 0.24;
    const qreal stem = box.width() * 0.30;
    QPainterPath path;
    path.setFillRule(Qt::WindingFill); // the bar and the stem overlap: keep the overlap filled
    path.addRect(QRectF(box.left(), box.top(), box.width(), bar));
    path.addRect(
        QRectF(box.center().x() - stem / 2, box.top() + bar * 0.5, stem, box.height() - bar * 0.5));
    return path.simplified();
}

// A text caret: an upright bar with short serifs at both ends (an I-beam).
QPainterPath caret(qreal x, qreal top, qreal bottom, qreal serif) {
    QPainterPath path;
    path.moveTo(x, top);
    path.lineTo(x, bottom);
    path.moveTo(x - serif, top);
    path.lineTo(x + serif, top);
    path.moveTo(x - serif, bottom);
    path.lineTo(x + serif, bottom);
    return path;
}

void paintCard(QPainter &p, bool detailed) {
    const QRectF card = detailed ? QRectF(22, 40, 212, 172) : QRectF(8, 28, 240, 200);
    const qreal radius = detailed ? 18 : 26;
    if (detailed) {
        // Soft shadow: a stack of faint, growing rounded rectangles.
        p.setPen(Qt::NoPen);
        for (int i = 8; i >= 1; --i) {
            p.setBrush(QColor(0, 0, 0, 9));
            p.drawRoundedRect(card.translated(0, 6).adjusted(-i, -i, i, i), radius + i, radius + i);
        }
    }
    p.setPen(QPen(QColor(0xb8, 0xc0, 0xcc), detailed ? 2 : 8));
    p.setBrush(QColor(0xfb, 0xfb, 0xf8));
    p.drawRoundedRect(card, radius, radius);

    // The photograph on the card: sky, sun, a mountain and a green hill.
    const qreal inset = detailed ? 12 : 20;
    const QRectF photo = card.adjusted(inset, inset, -inset, -inset);
    QPainterPath clip;
    clip.addRoundedRect(photo, radius * 0.5, radius * 0.5);
    p.save();
    p.setClipPath(clip);
    QLinearGradient sky(photo.topLeft(), photo.bottomLeft());
    sky.setColorAt(0.0, QColor(0x2f, 0x74, 0xc8));
    sky.setColorAt(0.7, QColor(0xa8, 0xd2, 0xf2));
    p.fillRect(photo, sky);
    p.setPen(Qt::NoPen);
    if (detailed) {
        p.setBrush(QColor(0xff, 0xd2, 0x4d));
        p.drawEllipse(QPointF(photo.right() - 14, photo.top() + 16), 10, 10);
    }
    QPainterPath mountain;
    mountain.moveTo(photo.left(), photo.bottom());
    mountain.lineTo(photo.left() + photo.width() * 0.30, photo.top() + photo.height() * 0.38);
    mountain.lineTo(photo.left() + photo.width() * 0.45, photo.top() + photo.height() * 0.55);
    mountain.lineTo(photo.left() + photo.width() * 0.68, photo.top() + photo.height() * 0.30);
    mountain.lineTo(photo.right(), photo.top() + photo.height() * 0.60);
    mountain.lineTo(photo.right(), photo.bottom());
    mountain.closeSubpath();
    p.setBrush(QColor(0x6a, 0x80, 0xa6));
    p.drawPath(mountain);
    QPainterPath hill;
    hill.moveTo(photo.left(), photo.bottom());
    hill.lineTo(photo.left(), photo.top() + photo.height() * 0.78);
    hill.cubicTo(photo.left() + photo.width() * 0.35, photo.top() + photo.height() * 0.62,
                 photo.left() + photo.width() * 0.65, photo.top() + photo.height() * 0.85,
                 photo.right(), photo.top() + photo.height() * 0.70);
    hill.lineTo(photo.right(), photo.bottom());
    hill.closeSubpath();
    QLinearGradient grass(photo.left(), photo.center().y(), photo.left(), photo.bottom());
    grass.setColorAt(0.0, QColor(0x4c, 0xa3, 0x55));
    grass.setColorAt(1.0, QColor(0x2a, 0x6b, 0x37));
    p.setBrush(grass);
    p.drawPath(hill);
    p.restore();
}

void paintStamp(QPainter &p, bool detailed) {
    // The stamped text: a bold white T with a dark rim, and an orange caret after it.
    const QRectF box = detailed ? QRectF(52, 82, 104, 108) : QRectF(30, 62, 130, 140);
    const QPainterPath t = letterT(box);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x1b, 0x22, 0x33), detailed ? 14 : 26, Qt::SolidLine, Qt::SquareCap,
                  Qt::MiterJoin));
    p.drawPath(t);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPath(t);

    const qreal x = detailed ? 186 : 208;
    const qreal serif = detailed ? 14 : 22;
    const QPainterPath beam = caret(x, box.top() - 6, box.bottom() + 6, serif);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x1b, 0x22, 0x33), detailed ? 20 : 40, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(beam);
    p.setPen(QPen(QColor(0xff, 0x6a, 0x13), detailed ? 10 : 20, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(beam);
}

} // namespace

CursorArt paintHandCursor() {
    CursorArt art;
    art.image = QImage(32, 32, QImage::Format_ARGB32);
    art.image.fill(Qt::transparent);
    for (int row = 0; row < static_cast<int>(kHand.size()); ++row) {
        for (int col = 0; kHand[row][col] != '\0'; ++col) {
            const char c = kHand[row][col];
            if (c == 'X')
                art.image.setPixel(kHandLeft + col, kHandTop + row, qRgba(0, 0, 0, 255));
            else if (c == 'o')
                art.image.setPixel(kHandLeft + col, kHandTop + row, qRgba(255, 255, 255, 255));
        }
    }
    // The fingertip: the first outline pixel of the top row.
    int tip = 0;
    while (kHand[0][tip] != 'X')
        ++tip;
    art.hotspot = QPoint(kHandLeft + tip, kHandTop);
    return art;
}

QImage paintProgramIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const bool detailed = size > 32;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);
    paintCard(p, detailed);
    paintStamp(p, detailed);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace resgen
