// The real open and save dialogs (Qt's own file dialog, offscreen) driven by key presses: the
// name typed is the name saved, even with double quotes in it, and the filter list shows the
// program's descriptions as they are while matching names in any case.
#include "Harness.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

const QStringList SaveFilters = {QStringLiteral("Bitmap Files (*.bmp)|*.bmp"),
                                 QStringLiteral("JPG Files (*.jpg)|*.jpg")};
const QString OpenFilter = QStringLiteral("All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)|"
                                          "*.bmp;*.jpg;*.gif;*.ico;*.wmf");

// Runs `work` on the first file dialog that opens, from inside its own event loop; `work` must
// close it (a dialog still open afterwards is cancelled, and the test fails).
void WhenDialogOpens(const std::function<void(QFileDialog *)> &work) {
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, work] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        work(dialog);
        if (dialog->isVisible()) {
            dialog->reject();
            QFAIL("the dialog stayed open");
        }
    });
    poll->start(10);
}

QLineEdit *NameField(QFileDialog *dialog) {
    return dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
}

// Types the name into the dialog's name field and presses Return, as a user would.
void TypeAndConfirm(QFileDialog *dialog, const QString &name) {
    QLineEdit *field = NameField(dialog);
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, name);
    QTest::keyClick(field, Qt::Key_Return);
}

QStringList ComboTexts(QFileDialog *dialog) {
    const auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
    QStringList texts;
    for (int i = 0; combo != nullptr && i < combo->count(); ++i) {
        texts << combo->itemText(i);
    }
    return texts;
}

// The names the dialog lists in its folder now, sorted.
QStringList Listed(QFileDialog *dialog) {
    const auto *view = dialog->findChild<QListView *>(QStringLiteral("listView"));
    QStringList names;
    if (view == nullptr) {
        return names;
    }
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row) {
        names << view->model()->index(row, 0, root).data().toString();
    }
    names.sort();
    return names;
}

} // namespace

class SaveDialogTest : public QObject {
    Q_OBJECT
private slots:
    // Qt's dialog reads `my "best" card` as the one name `best`: a file of another name, in a
    // folder the user did not mean. The typed name comes back whole, and both formats save it.
    void nameWithDoubleQuotesIsSavedAsTyped() {
        QTemporaryDir dir;
        RealServices services;
        const QString typed = QStringLiteral("my \"best\" card");
        WhenDialogOpens([&](QFileDialog *dialog) {
            dialog->setDirectory(dir.path());
            dialog->selectNameFilter(dialog->nameFilters().at(1));
            TypeAndConfirm(dialog, typed);
        });
        const SaveDialogResult answer =
            services.saveFileDialog(nullptr, QStringLiteral("Save File"), SaveFilters, 1);
        QVERIFY(answer.accepted);
        QCOMPARE(answer.path, dir.filePath(typed));
        QCOMPARE(answer.filterIndex, 2);

        // An ordinary name still goes through Qt's own handling.
        WhenDialogOpens([&](QFileDialog *dialog) {
            dialog->setDirectory(dir.path());
            TypeAndConfirm(dialog, QStringLiteral("plain card"));
        });
        const SaveDialogResult plain =
            services.saveFileDialog(nullptr, QStringLiteral("Save File"), SaveFilters, 1);
        QCOMPARE(plain.path, dir.filePath("plain card"));
        QCOMPARE(plain.filterIndex, 1);

        // The window saves exactly that name, as JPG and as BMP.
        QTemporaryDir temp;
        FormFixture f;
        f.services.env["TEMP"] = temp.path();
        f.loadPicture(WriteTestPicture("card.bmp", 32, 24, "BMP"));
        f.services.saveAnswers << answer << SaveDialogResult{true, answer.path, 1};
        f->PushButton4_Click();
        f->PushButton4_Click();
        QVERIFY2(f.services.reports().isEmpty(), qPrintable(f.services.reports().value(0).text));
        QCOMPARE(Entries(dir.path()),
                 (QStringList{"my \"best\" card.bmp", "my \"best\" card.jpg"}));
        QCOMPARE(QImage(dir.filePath("my \"best\" card.jpg")).size(), QSize(32, 24));
        QCOMPARE(QImage(dir.filePath("my \"best\" card.bmp")).size(), QSize(32, 24));
    }

    // A name with quotes that is a folder opens the folder, as any folder name does.
    void quotedFolderNameOpensTheFolder() {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("say \"hi\""));
        RealServices services;
        QString seenFolder;
        WhenDialogOpens([&](QFileDialog *dialog) {
            dialog->setDirectory(dir.path());
            TypeAndConfirm(dialog, QStringLiteral("say \"hi\""));
            seenFolder = dialog->directory().absolutePath();
            TypeAndConfirm(dialog, QStringLiteral("inside"));
        });
        const SaveDialogResult answer =
            services.saveFileDialog(nullptr, QStringLiteral("Save File"), SaveFilters, 1);
        QCOMPARE(seenFolder, dir.filePath("say \"hi\""));
        QCOMPARE(answer.path, dir.filePath("say \"hi\"/inside"));
    }

    // The list shows each description once, as the program gives it; upper-case names match.
    void filtersShowTheirDescriptionsOnly() {
        QTemporaryDir dir;
        for (const char *name : {"UPPER.BMP", "lower.bmp", "PHOTO.JPG", "icon.Ico", "note.txt"}) {
            WriteAll(dir.filePath(name), "x");
        }
        RealServices services;
        QStringList shown;
        QStringList bitmaps;
        QStringList jpgs;
        WhenDialogOpens([&](QFileDialog *dialog) {
            dialog->setDirectory(dir.path());
            shown = ComboTexts(dialog);
            // The folder is read in the background: wait until it shows.
            (void)QTest::qWaitFor([&] { return Listed(dialog).contains("lower.bmp"); }, 5000);
            bitmaps = Listed(dialog);
            dialog->selectNameFilter(dialog->nameFilters().at(1));
            (void)QTest::qWaitFor([&] { return !Listed(dialog).contains("lower.bmp"); }, 5000);
            jpgs = Listed(dialog);
            dialog->reject();
        });
        const SaveDialogResult answer =
            services.saveFileDialog(nullptr, QStringLiteral("Save File"), SaveFilters, 1);
        QVERIFY(!answer.accepted);
        QCOMPARE(shown, (QStringList{"Bitmap Files (*.bmp)", "JPG Files (*.jpg)"}));
        QCOMPARE(bitmaps, (QStringList{"UPPER.BMP", "lower.bmp"}));
        QCOMPARE(jpgs, QStringList{"PHOTO.JPG"});

        // The open dialog: one entry, its patterns in its description and matched in any case.
        WhenDialogOpens([&](QFileDialog *dialog) {
            dialog->setDirectory(dir.path());
            shown = ComboTexts(dialog);
            (void)QTest::qWaitFor([&] { return Listed(dialog).contains("lower.bmp"); }, 5000);
            bitmaps = Listed(dialog);
            TypeAndConfirm(dialog, QStringLiteral("PHOTO.JPG"));
        });
        const QString opened =
            services.openFileDialog(nullptr, QStringLiteral("Open"), OpenFilter, QString());
        QCOMPARE(shown, QStringList{"All Pictures (*.bmp;*.jpg;*.gif;*.ico;*.wmf)"});
        QCOMPARE(bitmaps, (QStringList{"PHOTO.JPG", "UPPER.BMP", "icon.Ico", "lower.bmp"}));
        QCOMPARE(opened, dir.filePath("PHOTO.JPG"));
    }
};

QTEST_MAIN(SaveDialogTest)
#include "test_save_dialog.moc"
