#include "platform/SizingFrame.h"

#include "platform/RichTextBox.h"

#include <QMouseEvent>
#include <QPainter>

SizingFrame::SizingFrame(RichTextBox *box) : QWidget(box->parentWidget()), box_(box) {
    setObjectName(box->objectName() + QStringLiteral("_SizingFrame"));
    setMouseTracking(true);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_NoSystemBackground);
}

void SizingFrame::follow() {
    constexpr int b = RichTextBox::SizingBorder;
    const QRect outer = box_->geometry().adjusted(-b, -b, b, b);
    setGeometry(outer);
    const QRect ring(0, 0, outer.width(), outer.height());
    setMask(QRegion(ring).subtracted(QRegion(ring.adjusted(b, b, -b, -b))));
    stackUnder(box_);
}

void SizingFrame::paintEvent(QPaintEvent *) {
    constexpr int b = RichTextBox::SizingBorder;
    QPainter painter(this);
    const QRect r = rect();
    painter.fillRect(r, palette().color(QPalette::Button));
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(r.adjusted(b - 1, b - 1, -b, -b));
}

void SizingFrame::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    edges_ = edgesAt(event->position().toPoint());
    pressedAt_ = event->globalPosition().toPoint();
    startGeometry_ = box_->geometry();
    event->accept();
}

void SizingFrame::mouseMoveEvent(QMouseEvent *event) {
    if (!(event->buttons() & Qt::LeftButton) || edges_ == 0) {
        setCursor(cursorFor(edgesAt(event->position().toPoint())));
        event->accept();
        return;
    }
    const QPoint delta = event->globalPosition().toPoint() - pressedAt_;
    QRect g = startGeometry_;
    if (edges_ & Left) {
        g.setLeft(qMin(startGeometry_.left() + delta.x(), startGeometry_.right() + 1 - MinSize));
    }
    if (edges_ & Right) {
        g.setRight(qMax(startGeometry_.right() + delta.x(), startGeometry_.left() + MinSize - 1));
    }
    if (edges_ & Top) {
        g.setTop(qMin(startGeometry_.top() + delta.y(), startGeometry_.bottom() + 1 - MinSize));
    }
    if (edges_ & Bottom) {
        g.setBottom(qMax(startGeometry_.bottom() + delta.y(), startGeometry_.top() + MinSize - 1));
    }
    box_->setGeometry(g);
    follow();
    event->accept();
}

void SizingFrame::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        edges_ = 0;
    }
    event->accept();
}

int SizingFrame::edgesAt(QPoint p) const {
    constexpr int b = RichTextBox::SizingBorder;
    const bool onLeft = p.x() < b, onRight = p.x() >= width() - b;
    const bool onTop = p.y() < b, onBottom = p.y() >= height() - b;
    int edges = 0;
    if (onLeft || ((onTop || onBottom) && p.x() < CornerReach)) {
        edges |= Left;
    }
    if (onRight || ((onTop || onBottom) && p.x() >= width() - CornerReach)) {
        edges |= Right;
    }
    if (onTop || ((onLeft || onRight) && p.y() < CornerReach)) {
        edges |= Top;
    }
    if (onBottom || ((onLeft || onRight) && p.y() >= height() - CornerReach)) {
        edges |= Bottom;
    }
    return edges;
}

Qt::CursorShape SizingFrame::cursorFor(int edges) {
    switch (edges) {
    case Left | Top:
    case Right | Bottom:
        return Qt::SizeFDiagCursor;
    case Right | Top:
    case Left | Bottom:
        return Qt::SizeBDiagCursor;
    case Left:
    case Right:
        return Qt::SizeHorCursor;
    case Top:
    case Bottom:
        return Qt::SizeVerCursor;
    default:
        return Qt::ArrowCursor;
    }
}
