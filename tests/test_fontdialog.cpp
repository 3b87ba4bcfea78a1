// The real font dialog, offscreen: it opens on the font it is given, with the style and size
// selected, offers no effects for screen fonts, and returns what was chosen in it.
#include "platform/Services.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QListView>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {

// Runs `inspect` on the font dialog once it is up, then closes it (accepted when inspect says
// so).
void whenShown(const std::function<bool(QFontDialog *)> &inspect) {
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, inspect] {
        auto *dialog = qobject_cast<QFontDialog *>(QApplication::activeModalWidget());
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
        whenShown([&](QFontDialog *dialog) {
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
        whenShown([&](QFontDialog *dialog) {
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
        whenShown([&](QFontDialog *dialog) {
            effects = visibleEffects(dialog);
            return false;
        });
        QVERIFY(!services.fontDialog(nullptr, choice, false));
        QCOMPARE(choice.name, QStringLiteral("DejaVu Serif"));
        QCOMPARE(effects, 2);
    }
};

QTEST_MAIN(FontDialogTest)
#include "test_fontdialog.moc"
