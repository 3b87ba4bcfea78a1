#include "app/ErrorReport.h"
#include "app/Form1.h"

#include <cmath>

void Form1::Picture1_MouseMove(Qt::MouseButtons, Qt::KeyboardModifiers, float x, float y) {
    editing.LastMouseX = qint32(std::nearbyint(x));
    editing.LastMouseY = qint32(std::nearbyint(y));
}

void Form1::ApplyWindowStyle(qint32 style, RichTextBox *control) {
    if (style == 0) {
        return;
    }
    control->setWindowStyle(quint32(style));
}

// Placement, cancel: completed by the text-editing work.
void Form1::Picture1_Click() {}
void Form1::PushButton8_Click() {}
