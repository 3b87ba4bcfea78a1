#pragma once

#include <QPoint>
#include <QRect>
#include <QWidget>

class RichTextBox;

// Moving an open rich-text box within its parent, two ways: by the grip, a small tab just outside
// the box's sizing border (above it, or below it where the picture leaves no room above), and by
// dragging inside the box with Alt held. A drag keeps at least KeepVisible pixels of the box on
// its parent each way, so the box cannot be lost off the edge. The box keeps its size and text.
class BoxMoveGrip : public QWidget {
public:
    explicit BoxMoveGrip(RichTextBox *box);

    static constexpr int GripWidth = 32;
    static constexpr int GripHeight = 10;
    static constexpr int KeepVisible = 16;

    // Puts the grip beside the box's current rectangle.
    void follow();

    // Where a drag that started with the box at start and has moved by delta leaves the box's
    // top-left corner.
    static QPoint DraggedPosition(const QRect &start, QPoint delta, QSize parent);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    RichTextBox *box_;
    bool dragging_ = false;
    QPoint pressedAt_;
    QRect startGeometry_;
};

// Dragging inside the box with Alt held moves it; watches the box's viewport while the box shows
// its sizing border. Other presses and drags stay the box's own.
class AltDragMover : public QObject {
public:
    explicit AltDragMover(RichTextBox *box);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    RichTextBox *box_;
    bool dragging_ = false;
    QPoint pressedAt_;
    QRect startGeometry_;
};
