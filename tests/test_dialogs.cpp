// The real dialogs of the text commands, offscreen: the font dialog opens on the font it is
// given, with the style and size selected, offers no effects for screen fonts, and returns what
// was chosen in it; an effect's dialog shows its colour and amount and returns them.
#include "platform/Services.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QListView>
#include <QSpinBox>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {

// Runs `inspect` on the dialog once it is up, then closes it (accepted when inspect says so).
template <class Dialog> void whenShown(const std::function<bool(Dialog *)> &inspect) {
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, inspect] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (inspect(dialog)) {
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    timer->start();
}

// The texts selected in the dialog's three lists: family, style, size.
QStringList selected(QFontDialog *dialog) {
    QStringList texts;
    for (QListView *list : dialog->findChildren<QListView *>()) {
        texts << list->currentIndex().data().toString();
    }
    return texts;
}

int visibleEffects(QFontDialog *dialog) {
    int n = 0;
    for (QCheckBox *box : dialog->findChildren<QCheckBox *>()) {
        n += box->isVisibleTo(dialog);
    }
    return n;
}

} // namespace

class FontDialogTest : public QObject {
    Q_OBJECT
private slots:
    void arialIsAFamilyOfItsOwn() {
        QVERIFY(QFontDatabase::families().contains(QStringLiteral("Arial")));
        QVERIFY(QFontDatabase::styles(QStringLiteral("Arial")).contains(QStringLiteral("Bold")));
        QFont bold(QStringLiteral("Arial"));
        bold.setBold(true);
        QCOMPARE(QFontInfo(bold).family(), QStringLiteral("Arial"));
        QCOMPARE(QFontInfo(bold).styleName(), QStringLiteral("Bold"));
    }

    void opensOnTheFontGiven() {
        RealServices services;
        FontChoice choice{QStringLiteral("Arial"), 9.0f, true, false};
        QStringList shown;
        int effects = -1;
        whenShown<QFontDialog>([&](QFontDialog *dialog) {
            shown = selected(dialog);
            effects = visibleEffects(dialog);
            return true;
        });
        QVERIFY(services.fontDialog(nullptr, choice, true));
        QCOMPARE(shown, (QStringList{"Arial", "Bold", "9"}));
        QCOMPARE(effects, 0);
        // Accepted as it opened: the same font comes back.
        QCOMPARE(choice.name, QStringLiteral("Arial"));
        QCOMPARE(choice.size, 9.0f);
        QVERIFY(choice.bold && !choice.italic && !choice.strikethru && !choice.underline);
    }

    void returnsWhatWasChosen() {
        RealServices services;
        FontChoice choice{QStringLiteral("Arial"), 14.0f, false, true};
        QStringList shown;
        whenShown<QFontDialog>([&](QFontDialog *dialog) {
            shown = selected(dialog);
            QFont other(QStringLiteral("DejaVu Serif"));
            other.setPointSize(20);
            other.setBold(true);
            dialog->setCurrentFont(other);
            return true;
        });
        QVERIFY(services.fontDialog(nullptr, choice, true));
        QCOMPARE(shown, (QStringList{"Arial", "Italic", "14"}));
        QCOMPARE(choice.name, QStringLiteral("DejaVu Serif"));
        QCOMPARE(choice.size, 20.0f);
        QVERIFY(choice.bold && !choice.italic);

        // Cancelled: nothing changes. Without the screen-fonts flag the effects are offered.
        int effects = -1;
        whenShown<QFontDialog>([&](QFontDialog *dialog) {
            effects = visibleEffects(dialog);
            return false;
        });
        QVERIFY(!services.fontDialog(nullptr, choice, false));
        QCOMPARE(choice.name, QStringLiteral("DejaVu Serif"));
        QCOMPARE(effects, 2);
    }

    void effectDialogShowsColourAndAmount() {
        RealServices services;
        EffectChoice choice{QStringLiteral("Outline"),
                            QStringLiteral("&Width:"),
                            QStringLiteral("pixels"),
                            QColor(Qt::red),
                            3,
                            0,
                            20};
        QString title, shown;
        int minimum = -1, maximum = -1;
        whenShown<QDialog>([&](QDialog *dialog) {
            title = dialog->windowTitle();
            auto *amount = dialog->findChild<QSpinBox *>();
            shown = amount->text();
            minimum = amount->minimum();
            maximum = amount->maximum();
            amount->setValue(25);
            return true;
        });
        QVERIFY(services.effectDialog(nullptr, choice));
        QCOMPARE(title, QStringLiteral("Outline"));
        QCOMPARE(shown, QStringLiteral("3 pixels"));
        QCOMPARE(minimum, 0);
        QCOMPARE(maximum, 20);
        // Held to the range; the colour as it was, not changed in the dialog.
        QCOMPARE(choice.amount, 20);
        QCOMPARE(choice.colour, QColor(Qt::red));

        whenShown<QDialog>([&](QDialog *dialog) {
            dialog->findChild<QSpinBox *>()->setValue(9);
            return false;
        });
        QVERIFY(!services.effectDialog(nullptr, choice));
        QCOMPARE(choice.amount, 20);
    }
};

QTEST_MAIN(FontDialogTest)
#include "test_dialogs.moc"
