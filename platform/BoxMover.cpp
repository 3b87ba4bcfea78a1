#include "platform/BoxMover.h"

#include "platform/RichTextBox.h"

#include <QMouseEvent>
#include <QPainter>

BoxMoveGrip::BoxMoveGrip(RichTextBox *box) : QWidget(box->parentWidget()), box_(box) {
    setObjectName(box->objectName() + QStringLiteral("_MoveGrip"));
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::SizeAllCursor);
    setToolTip(QStringLiteral("Drag to move the text (or drag the text with Alt held)"));
    resize(GripWidth, GripHeight);
}

void BoxMoveGrip::follow() {
    constexpr int b = RichTextBox::SizingBorder;
    const QRect outer = box_->geometry().adjusted(-b, -b, b, b);
    const QSize parent = parentWidget() != nullptr ? parentWidget()->size() : QSize();
    // Centred on the part of the border that lies on the parent, so it can be reached.
    const QRect visible = outer.intersected(QRect(QPoint(0, 0), parent));
    const int centre = visible.isEmpty() ? outer.center().x() : visible.center().x();
    int top = outer.top() - GripHeight;
    if (top < 0 && outer.bottom() + 1 + GripHeight <= parent.height()) {
        top = outer.bottom() + 1;
    }
    move(centre - GripWidth / 2, top);
    raise();
}

QPoint BoxMoveGrip::DraggedPosition(const QRect &start, QPoint delta, QSize parent) {
    QPoint p = start.topLeft() + delta;
    // Clamped only against the side the drag heads for, so a box already further out than the
    // bounds (placed by a click at the edge) does not jump when the drag starts.
    const int minX = KeepVisible - start.width(), maxX = parent.width() - KeepVisible;
    const int minY = KeepVisible - start.height(), maxY = parent.height() - KeepVisible;
    if (delta.x() < 0) {
        p.setX(qMax(p.x(), qMin(minX, start.left())));
    } else {
        p.setX(qMin(p.x(), qMax(maxX, start.left())));
    }
    if (delta.y() < 0) {
        p.setY(qMax(p.y(), qMin(minY, start.top())));
    } else {
        p.setY(qMin(p.y(), qMax(maxY, start.top())));
    }
    return p;
}

void BoxMoveGrip::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QRect r = rect();
    painter.fillRect(r, palette().color(QPalette::Button));
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(r.adjusted(0, 0, -1, -1));
    // Two ridges across the middle, the usual look of something to take hold of.
    painter.setPen(palette().color(QPalette::Shadow));
    const int middle = r.height() / 2;
    painter.drawLine(8, middle - 2, r.width() - 9, middle - 2);
    painter.drawLine(8, middle + 1, r.width() - 9, middle + 1);
}

void BoxMoveGrip::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    dragging_ = true;
    pressedAt_ = event->globalPosition().toPoint();
    startGeometry_ = box_->geometry();
    event->accept();
}

void BoxMoveGrip::mouseMoveEvent(QMouseEvent *event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton) && parentWidget() != nullptr) {
        const QPoint delta = event->globalPosition().toPoint() - pressedAt_;
        box_->move(DraggedPosition(startGeometry_, delta, parentWidget()->size()));
    }
    event->accept();
}

void BoxMoveGrip::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
    }
    event->accept();
}

AltDragMover::AltDragMover(RichTextBox *box) : QObject(box), box_(box) {
    box->viewport()->installEventFilter(this);
}

bool AltDragMover::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick) {
        return QObject::eventFilter(watched, event);
    }
    const auto *mouse = static_cast<QMouseEvent *>(event);
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
        mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::AltModifier) &&
        (box_->windowStyle() & WS_THICKFRAME) && box_->parentWidget() != nullptr) {
        dragging_ = true;
        pressedAt_ = mouse->globalPosition().toPoint();
        startGeometry_ = box_->geometry();
        box_->viewport()->setCursor(Qt::SizeAllCursor);
        return true;
    }
    if (!dragging_) {
        return false;
    }
    if (type == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton)) {
        const QPoint delta = mouse->globalPosition().toPoint() - pressedAt_;
        box_->move(
            BoxMoveGrip::DraggedPosition(startGeometry_, delta, box_->parentWidget()->size()));
    } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
        dragging_ = false;
        box_->viewport()->setCursor(Qt::IBeamCursor);
    }
    return true;
}
