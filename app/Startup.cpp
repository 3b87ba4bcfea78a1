#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "app/Links.h"
#include "app/SettingsStore.h"
#include "platform/CursorFile.h"
#include "resources/ProgramIcon.h"
#include "save/FileUtils.h"
#include "save/PrivateFolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>

// The application title: the product name cut at its last blank, at least once, and again while
// longer than 40 characters. A name without a blank is its own title.
QString ShortenedTitle(const QString &productName) {
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0) {
            break;
        }
        title = title.left(blank);
    } while (title.size() > 40);
    return title;
}

void Form1::Form_Load() {
    Steps s(*this, "Form_Load");
    s(100, [&] { ApplySkin(); });
    s(104, [&] { setWindowTitle(QLatin1String(Links::ProductName)); });
    s(104, [&] { setWindowIcon(LoadProgramIcon()); });
    s(104, [&] { SetApplicationTitle(); });
    const QString cursorPath = ProgramFile(QStringLiteral("/HAND-M.CUR"));
    if (s.test(106, [&] { return PathExists(cursorPath); })) {
        s(108, [&] {
            handCursor_ = LoadCursorFile(cursorPath);
            hasHandCursor_ = true;
            applyPointer();
        });
    }
    s(110, [&] { OpenHomePageByChance(); });
    // What a killed earlier run left in the temporary folder goes now, not at some later save.
    s(110, [&] { PrivateFolder::removeAbandoned(TempFolder(services_)); });
    SettingsStore store(services_);
    s(128, [&] {
        setOptionValue(Option21, ReadBoolean(store.GetSetting(QStringLiteral("Option21"),
                                                              QStringLiteral("1"))));
    });
    s(130, [&] {
        setOptionValue(Option22, ReadBoolean(store.GetSetting(QStringLiteral("Option22"),
                                                              QStringLiteral("0"))));
    });
    s(132, [&] {
        const qint16 value =
            ReadWholeNumber(store.GetSetting(QStringLiteral("Slider1"), QStringLiteral("85")));
        if (value < Slider1->minimum() || value > Slider1->maximum()) {
            throw RuntimeError("Invalid property value");
        }
        // Read, not changed by the user: nothing is stored back.
        const QSignalBlocker quiet(Slider1);
        Slider1->setValue(value);
    });
    s(134, [&] { Frame4->setTitle(QString::number(Slider1->value()) + QStringLiteral("%")); });
    if (s.test(136, [&] { return Option21->isChecked(); })) {
        s(138, [&] { Frame4->setEnabled(false); });
    } else if (s.test(140, [&] { return Option22->isChecked(); })) {
        s(142, [&] { Frame4->setEnabled(true); });
    }
    // Pixel scales: our picture boxes always measure in pixels.
    s(144, [&] {});
    s(146, [&] {});
    s(148, [&] {});
    s(150, [&] { ScrollBars(); });
    s(152, [&] { Picture2->setBackColor(Qt::white); });
    s(154, [&] { RichTextBox1->setFontBold(Text1->fontBold()); });
    s(156, [&] { RichTextBox1->setFontItalic(Text1->fontItalic()); });
    s(158, [&] { RichTextBox1->setFontName(Text1->fontName()); });
    s(160, [&] { RichTextBox1->setFontSize(Text1->fontSize()); });
    s(162, [&] { RichTextBox1->setFontStrikethru(Text1->fontStrikethru()); });
    s(164, [&] { RichTextBox1->setFontUnderline(Text1->fontUnderline()); });
    s(166, [&] { RichTextBox1->setSelStart(0); });
    s(168, [&] { RichTextBox1->setSelLength(int(RichTextBox1->text().size())); });
    s(170, [&] { RichTextBox1->setSelColor(Text1->selColor()); });
}

void Form1::LoadStartFile(const QString &path) {
    // A name relative to where the program was started, made whole so that a later Reload
    // Original Picture reads the same file.
    LoadDroppedFile(QFileInfo(path).isRelative() ? QDir::current().filePath(path) : path);
}

void Form1::ApplySkin() {
    const QString skinPath = ProgramFile(QStringLiteral("/x/o.cjs"));
    if (!QFileInfo(skinPath).isFile()) {
        return;
    }
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, buttonFace);
    setPalette(pal);
    const QList<QWidget *> children = findChildren<QWidget *>();
    for (QWidget *w : children) {
        if (qobject_cast<QRadioButton *>(w) || qobject_cast<QCheckBox *>(w) ||
            qobject_cast<QGroupBox *>(w) || qobject_cast<QLabel *>(w)) {
            QPalette p = w->palette();
            p.setColor(QPalette::Window, buttonFace);
            w->setPalette(p);
        }
    }
    SkinFramework1.LoadSkin(skinPath, QString());
    SkinFramework1.ApplyOptions |= 1;
    SkinFramework1.ApplyColorSchemeColors = true;
    SkinFramework1.ApplyFonts = true;
    SkinFramework1.ApplyWindow(this);
}

void Form1::SetApplicationTitle() {
    appTitle_ = ShortenedTitle(QLatin1String(Links::ProductName));
}

void Form1::OpenHomePageByChance() {
    services_.seedRandomFromClock();
    const int draw = int(services_.randomFraction() * 100.0) + 1;
    if (draw == 7) {
        if (!services_.openUrl(QUrl(QLatin1String(Links::HomePage)))) {
            throw RuntimeError("File not found");
        }
    }
}

QString Form1::ProgramFolder() const {
    return services_.programFolder();
}

QString Form1::ProgramFile(const QString &name) const {
    const QString beside = ProgramFolder() + name;
    const QString data = services_.dataFolder();
    if (QFileInfo::exists(beside) || data.isEmpty() || !QFileInfo::exists(data + name)) {
        return beside;
    }
    return data + name;
}

void Form1::Form_QueryUnload() {
    Steps s(*this, "Form_QueryUnload");
    s(100, [&] { ApplyWindowStyle(editing.SavedBoxStyle, Text1); });
    s(104, [&] { services_.processEvents(); });
    s(106, [&] { services_.processEvents(); });
}

void Form1::PushButton6_Click() {
    Steps s(*this, "PushButton6_Click");
    s(100, [&] {
        MsgBox(QStringLiteral("Questions? Please contact Team Pellorin at ") +
                   QLatin1String(Links::ContactPage),
               MsgButtons::Ok);
    });
}
