#include "app/Form1.h"

#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <initializer_list>

// The window's keyboard shortcuts. Each one presses its button, so it runs the button's own
// handler and does nothing while the button is disabled; the reports and refusals are the
// button's. They work wherever the focus is in the window, the open editing box included: the box
// keeps the keys it edits with (plain Return makes a new line, Ctrl+Z undoes typing).
void Form1::setUpShortcuts() {
    const auto bind = [this](std::initializer_list<QKeySequence> keys, auto action) {
        for (const QKeySequence &key : keys) {
            auto *shortcut = new QShortcut(key, this);
            shortcut->setContext(Qt::WindowShortcut);
            connect(shortcut, &QShortcut::activated, this, action);
            // A keyboard that produces one key press for two of these sequences (Ctrl+= and
            // Ctrl++ on one key) still runs the command once.
            connect(shortcut, &QShortcut::activatedAmbiguously, this, action);
        }
    };
    const auto press = [](QPushButton *button) { return [button] { button->click(); }; };
    // Keys that act on the editing box only while the box is open.
    const auto pressWhileEditing = [this](QPushButton *button) {
        return [this, button] {
            if (!Text1->isHidden()) {
                button->click();
            }
        };
    };

    bind({QKeySequence(Qt::CTRL | Qt::Key_O)}, press(PushButton1));
    bind({QKeySequence(Qt::CTRL | Qt::Key_S)}, press(PushButton4));
    bind({QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::CTRL | Qt::Key_Equal)},
         press(PushButton10));
    bind({QKeySequence(Qt::CTRL | Qt::Key_Minus)}, press(PushButton11));
    bind({QKeySequence(Qt::CTRL | Qt::Key_0)}, press(PushButton13));
    bind({QKeySequence(Qt::Key_Escape)}, pressWhileEditing(PushButton8));
    bind({QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)},
         pressWhileEditing(PushButton3));
    bind({QKeySequence(Qt::Key_F1)}, press(PushButton6));
    bind({QKeySequence(Qt::CTRL | Qt::Key_Z)}, [this] { UndoStamp(); });
    bind({QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
         [this] { RedoStamp(); });

    // The buttons name their keys when the pointer rests on them.
    const struct {
        QPushButton *button;
        const char *keys;
    } hints[] = {{PushButton1, "Ctrl+O"},     {PushButton4, "Ctrl+S"},  {PushButton10, "Ctrl++"},
                 {PushButton11, "Ctrl+-"},    {PushButton13, "Ctrl+0"}, {PushButton8, "Esc"},
                 {PushButton3, "Ctrl+Enter"}, {PushButton6, "F1"}};
    for (const auto &hint : hints) {
        hint.button->setToolTip(hint.button->text() + QStringLiteral(" (") +
                                QLatin1String(hint.keys) + QLatin1Char(')'));
    }
}
