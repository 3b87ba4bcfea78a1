#include "platform/Services.h"

#include "platform/FileDialog.h"
#include "resources/ConverterResource.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFontDialog>
#include <QGroupBox>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <stdexcept>

MsgAnswer DefaultAnswer(const MessageRequest &request) {
    switch (request.buttons) {
    case MsgButtons::Ok:
        return MsgAnswer::Ok;
    case MsgButtons::YesNo:
        return request.defaultButton == 2 ? MsgAnswer::No : MsgAnswer::Yes;
    case MsgButtons::YesNoCancel:
        return request.defaultButton == 2   ? MsgAnswer::No
               : request.defaultButton == 3 ? MsgAnswer::Cancel
                                            : MsgAnswer::Yes;
    case MsgButtons::SaveDiscardCancel:
        return request.defaultButton == 2   ? MsgAnswer::Discard
               : request.defaultButton == 3 ? MsgAnswer::Cancel
                                            : MsgAnswer::Save;
    }
    return MsgAnswer::Ok;
}

MsgAnswer RealServices::messageBox(QWidget *parent, const MessageRequest &request) {
    QMessageBox box(parent);
    box.setWindowTitle(request.title);
    box.setText(request.text);
    switch (request.icon) {
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    QList<QMessageBox::StandardButton> order;
    switch (request.buttons) {
    case MsgButtons::Ok:
        order = {QMessageBox::Ok};
        break;
    case MsgButtons::YesNo:
        order = {QMessageBox::Yes, QMessageBox::No};
        break;
    case MsgButtons::YesNoCancel:
        order = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        break;
    case MsgButtons::SaveDiscardCancel:
        order = {QMessageBox::Save, QMessageBox::Discard, QMessageBox::Cancel};
        break;
    }
    QMessageBox::StandardButtons buttons;
    for (auto b : order) {
        buttons |= b;
    }
    box.setStandardButtons(buttons);
    const int index = qBound(1, request.defaultButton, int(order.size())) - 1;
    box.setDefaultButton(order.at(index));
    if (request.buttons == MsgButtons::YesNoCancel ||
        request.buttons == MsgButtons::SaveDiscardCancel) {
        box.setEscapeButton(QMessageBox::Cancel);
    } else if (request.buttons == MsgButtons::Ok) {
        box.setEscapeButton(QMessageBox::Ok);
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    case QMessageBox::Save:
        return MsgAnswer::Save;
    case QMessageBox::Discard:
        return MsgAnswer::Discard;
    default:
        return request.buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
    }
}

QString RealServices::openFileDialog(QWidget *parent, const QString &title, const QString &filter,
                                     const QString &fileName) {
    FileDialog dialog(parent, title, QFileDialog::AcceptOpen);
    dialog.setFilterEntries(FileDialog::entriesOf(filter));
    if (!fileName.isEmpty()) {
        dialog.selectFile(fileName);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return QString();
    }
    return dialog.chosenFile();
}

bool RealServices::colorDialog(QWidget *parent, QColor &colour) {
    QColorDialog dialog(colour, parent);
    dialog.setOption(QColorDialog::DontUseNativeDialog);
    dialog.setWindowTitle(QObject::tr("Color"));
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    colour = dialog.selectedColor();
    return true;
}

bool RealServices::fontDialog(QWidget *parent, FontChoice &font, bool screenFontsOnly) {
    QFont initial(font.name);
    initial.setPointSizeF(font.size > 0 ? font.size : 8.0);
    initial.setBold(font.bold);
    initial.setItalic(font.italic);
    initial.setStrikeOut(font.strikethru);
    initial.setUnderline(font.underline);
    QFontDialog dialog(initial, parent);
    dialog.setOption(QFontDialog::DontUseNativeDialog);
    dialog.setWindowTitle(QObject::tr("Font"));
    if (screenFontsOnly) {
        // Screen fonts only: no effects are offered (the dialog has no option for that, so its
        // effect boxes and their group are taken away).
        for (QCheckBox *effect : dialog.findChildren<QCheckBox *>()) {
            effect->setChecked(false);
            effect->hide();
            if (auto *group = qobject_cast<QGroupBox *>(effect->parentWidget())) {
                group->hide();
            }
        }
    }
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    const QFont chosen = dialog.selectedFont();
    font.name = chosen.family();
    font.size = float(chosen.pointSizeF());
    font.bold = chosen.bold();
    font.italic = chosen.italic();
    if (!screenFontsOnly) {
        font.strikethru = chosen.strikeOut();
        font.underline = chosen.underline();
    }
    return true;
}

SaveDialogResult RealServices::saveFileDialog(QWidget *parent, const QString &title,
                                              const QStringList &filters, int initialIndex) {
    FileDialog dialog(parent, title, QFileDialog::AcceptSave);
    dialog.setFilterEntries(filters);
    if (initialIndex >= 1 && initialIndex <= filters.size()) {
        dialog.selectNameFilter(FileDialog::qtFilter(filters.at(initialIndex - 1)));
    }
    SaveDialogResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.chosenFile().isEmpty()) {
        return result;
    }
    result.accepted = true;
    result.path = dialog.chosenFile();
    result.filterIndex = dialog.chosenEntry();
    return result;
}

std::unique_ptr<QSettings> RealServices::openSettings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Pellorin"), QStringLiteral("Glyphtack"));
}

QString RealServices::programFolder() {
    return QCoreApplication::applicationDirPath();
}

QString RealServices::dataFolder() {
    // Installed, the program lives in <prefix>/lib/glyphtack and its files in
    // <prefix>/share/glyphtack: the path from one to the other comes from the build.
#ifdef GLYPHTACK_DATA_FROM_PROGRAM
    return QDir::cleanPath(
        QDir(programFolder()).filePath(QStringLiteral(GLYPHTACK_DATA_FROM_PROGRAM)));
#else
    return {};
#endif
}

QString RealServices::environment(const QString &name) {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(name)) {
        return QString();
    }
    QString value = env.value(name);
    if (value.isNull()) {
        value = QStringLiteral("");
    }
    return value;
}

void RealServices::seedRandomFromClock() {
    randomState_ = quint64(QDateTime::currentMSecsSinceEpoch()) * 6364136223846793005ULL + 1ULL;
}

double RealServices::randomFraction() {
    // SplitMix64: small, fast and good enough for a one-in-a-hundred draw and a file name.
    randomState_ += 0x9e3779b97f4a7c15ULL;
    quint64 z = randomState_;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    return double(z >> 11) / double(1ULL << 53);
}

void RealServices::sleep(int milliseconds) {
    if (milliseconds > 0) {
        // The window repaints and takes clicks meanwhile: a pause of the save is no freeze.
        QEventLoop wait;
        QTimer::singleShot(milliseconds, &wait, &QEventLoop::quit);
        wait.exec();
    }
}

bool RealServices::openUrl(const QUrl &url) {
    return QDesktopServices::openUrl(url);
}

void RealServices::processEvents() {
    QCoreApplication::processEvents();
}

QByteArray Services::loadResource(const QString &type, int id) {
    if (type == QLatin1String("CUSTOM") && id == 101) {
        return LoadConverterResource();
    }
    throw std::runtime_error("Resource not found");
}
