#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

class RichTextBox;

// The sizing border of a box whose style holds WS_THICKFRAME: a ring of SizingBorder pixels around
// the box, a sibling of the box in the same parent, so the box's own rectangle (and the text in
// it) stays where it is. Dragging an edge moves that edge of the box; near a corner both edges
// move. Only the ring belongs to the widget, so it never covers the box or takes its clicks.
class SizingFrame : public QWidget {
public:
    explicit SizingFrame(RichTextBox *box);

    // Puts the ring around the box's current rectangle.
    void follow();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    enum Edge { Left = 1, Right = 2, Top = 4, Bottom = 8 };
    // The smallest box a drag leaves, in pixels each way.
    static constexpr int MinSize = 8;
    // Along an edge, this far from a corner the drag takes the neighbouring edge as well.
    static constexpr int CornerReach = 12;

    int edgesAt(QPoint p) const;
    static Qt::CursorShape cursorFor(int edges);

    RichTextBox *box_;
    int edges_ = 0;
    QPoint pressedAt_;
    QRect startGeometry_;
};
