#include "app/ErrorReport.h"
#include "app/Form1.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>
#include <cmath>

namespace {

// A bar's maximum is a 16-bit value.
int BarMaximum(int excess) {
    if (excess > 32767) {
        throw RuntimeError("Overflow");
    }
    return excess;
}

// Turns the wheel over the viewport (and the picture in it) into moves of the scroll bars, whose
// change handlers move the picture: the wheel scrolls up and down, with Shift (or a sideways
// wheel) left and right. A bar that is disabled does not move.
class WheelToBars : public QObject {
public:
    WheelToBars(QScrollBar *horizontal, QScrollBar *vertical, QObject *parent)
        : QObject(parent), horizontal_(horizontal), vertical_(vertical) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::Wheel) {
            return QObject::eventFilter(watched, event);
        }
        const auto *wheel = static_cast<QWheelEvent *>(event);
        QPoint delta = wheel->angleDelta();
        QPoint pixels = wheel->pixelDelta();
        if (wheel->modifiers().testFlag(Qt::ShiftModifier) && delta.x() == 0) {
            delta = delta.transposed();
            pixels = pixels.transposed();
        }
        scroll(horizontal_, delta.x(), pixels.x(), remainderX_);
        scroll(vertical_, delta.y(), pixels.y(), remainderY_);
        return true;
    }

private:
    // Moves the bar against the wheel's turn: a notch (120 eighths of a degree) is the system's
    // number of lines of the bar's single step; a touchpad's pixel delta is taken as it is.
    static void scroll(QScrollBar *bar, int angle, int pixels, int &remainder) {
        if (!bar->isEnabled() || (angle == 0 && pixels == 0)) {
            return;
        }
        int move = 0;
        if (pixels != 0) {
            move = -pixels;
        } else {
            remainder += -angle * QApplication::wheelScrollLines() * bar->singleStep();
            move = remainder / 120;
            remainder -= move * 120;
        }
        if (move != 0) {
            bar->setValue(bar->value() + move);
        }
    }

    QScrollBar *horizontal_;
    QScrollBar *vertical_;
    int remainderX_ = 0;
    int remainderY_ = 0;
};

} // namespace

void Form1::setUpWheelScrolling() {
    auto *filter = new WheelToBars(HScroll1, VScroll1, this);
    Picture2->installEventFilter(filter);
    Picture2->client()->installEventFilter(filter);
    Picture1->installEventFilter(filter);
}

void Form1::ScrollBars() {
    Steps s(*this, "ScrollBars");
    s(100, [&] { Picture1->move(Picture1->x(), 0); });
    s(102, [&] { Picture1->move(0, Picture1->y()); });
    if (s.test(104, [&] { return Picture1->width() <= Picture2->scaleWidth(); })) {
        s(106, [&] { HScroll1->setEnabled(false); });
    } else {
        const int excess = Picture1->width() - Picture2->scaleWidth();
        const bool far = excess > 100;
        s(far ? 122 : 112, [&] { HScroll1->setEnabled(true); });
        s(far ? 124 : 114, [&] { HScroll1->setMaximum(BarMaximum(excess)); });
        s(far ? 128 : 118, [&] { HScroll1->setValue(0); });
    }
    if (s.test(130, [&] { return Picture1->height() <= Picture2->scaleHeight(); })) {
        s(132, [&] { VScroll1->setEnabled(false); });
    } else {
        const int excess = Picture1->height() - Picture2->scaleHeight();
        const bool far = excess > 100;
        s(far ? 148 : 138, [&] { VScroll1->setEnabled(true); });
        s(far ? 150 : 140, [&] { VScroll1->setMaximum(BarMaximum(excess)); });
        s(far ? 154 : 144, [&] { VScroll1->setValue(0); });
    }
}

void Form1::HScroll1_Change() {
    Picture1->move(-HScroll1->value(), Picture1->y());
}

void Form1::VScroll1_Change() {
    Picture1->move(Picture1->x(), -VScroll1->value());
}

void Form1::Picture2_Click() {
    PushButton3->setEnabled(true);
}
