#include "app/ErrorReport.h"
#include "app/Form1.h"

#include <QPushButton>
#include <QScrollBar>
#include <cmath>

namespace {

// A bar's maximum is a 16-bit value.
int BarMaximum(int excess) {
    if (excess > 32767) {
        throw RuntimeError("Overflow");
    }
    return excess;
}

} // namespace

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
