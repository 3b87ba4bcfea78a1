#pragma once

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <memory>

class QWidget;
class QSettings;

// Message box buttons, default button, icon and answers, as the window asks them.
enum class MsgButtons { Ok, YesNo, YesNoCancel, SaveDiscardCancel };
enum class MsgIcon { None, Warning, Information, Critical, Question };
enum class MsgAnswer { Ok, Yes, No, Cancel, Save, Discard };

struct MessageRequest {
    QString text;
    MsgButtons buttons = MsgButtons::Ok;
    int defaultButton = 1; // 1 = first button, 2 = second, 3 = third
    MsgIcon icon = MsgIcon::None;
    QString title;
};

// The answer a message box gives when its default button is taken.
MsgAnswer DefaultAnswer(const MessageRequest &request);

// What the font dialog proposes and returns.
struct FontChoice {
    QString name;
    float size = 8.0f;
    bool bold = false;
    bool italic = false;
    bool strikethru = false;
    bool underline = false;
};

// What a caption effect's dialog asks for and returns: a colour and an amount (a width, an
// opacity) between minimum and maximum, shown with its unit.
struct EffectChoice {
    QString title;
    QString amountLabel;
    QString unit;
    QColor colour;
    int amount = 0;
    int minimum = 0;
    int maximum = 100;
};

struct SaveDialogResult {
    bool accepted = false;
    QString path;
    int filterIndex = 0; // 1-based index of the chosen filter entry
};

// Everything the main window asks of the outside world: dialogs, message boxes, settings location,
// program folder, environment, random draws, pauses, URL opening, process events. The real
// implementation uses Qt; the tests' one answers from a script and records what was asked.
class Services {
public:
    virtual ~Services() = default;

    virtual MsgAnswer messageBox(QWidget *parent, const MessageRequest &request) = 0;
    // Open dialog: returns the chosen file name, or an empty string when cancelled.
    virtual QString openFileDialog(QWidget *parent, const QString &title, const QString &filter,
                                   const QString &fileName) = 0;
    // Colour dialog: returns true and sets colour when the user confirms.
    virtual bool colorDialog(QWidget *parent, QColor &colour) = 0;
    // Font dialog: returns true and updates font when the user confirms. screenFontsOnly mirrors
    // the dialog flag that hides effects such as underline and strikeout.
    virtual bool fontDialog(QWidget *parent, FontChoice &font, bool screenFontsOnly) = 0;
    // A caption effect's dialog: returns true and updates the colour and amount when the user
    // confirms.
    virtual bool effectDialog(QWidget *parent, EffectChoice &choice) = 0;
    // Save dialog with a list of "Description|pattern" filter entries.
    virtual SaveDialogResult saveFileDialog(QWidget *parent, const QString &title,
                                            const QStringList &filters, int initialIndex) = 0;

    // The per-user settings store; the caller owns the returned object.
    virtual std::unique_ptr<QSettings> openSettings() = 0;
    // Folder of the running program.
    virtual QString programFolder() = 0;
    // Where an installed program's read-only files are (the sample, the hand cursor), when they
    // are not beside it; empty when there is no such folder.
    virtual QString dataFolder() { return {}; }
    // Environment lookup; returns a null QString when the variable is not set.
    virtual QString environment(const QString &name) = 0;
    // Seeds the pseudo-random generator from the clock, as the program does before drawing.
    virtual void seedRandomFromClock() = 0;
    // A random fraction in [0, 1).
    virtual double randomFraction() = 0;
    // Waits for the given time; the window's events are handled meanwhile, so that it repaints.
    virtual void sleep(int milliseconds) = 0;
    virtual bool openUrl(const QUrl &url) = 0;
    // Lets pending window messages run once.
    virtual void processEvents() = 0;
    // The program's own resource of a type and number (the JPG converter is "CUSTOM" 101).
    // Throws when the program has no such resource.
    virtual QByteArray loadResource(const QString &type, int id);
};

// The Qt-backed implementation used by the real program.
class RealServices : public Services {
public:
    MsgAnswer messageBox(QWidget *parent, const MessageRequest &request) override;
    QString openFileDialog(QWidget *parent, const QString &title, const QString &filter,
                           const QString &fileName) override;
    bool colorDialog(QWidget *parent, QColor &colour) override;
    bool fontDialog(QWidget *parent, FontChoice &font, bool screenFontsOnly) override;
    bool effectDialog(QWidget *parent, EffectChoice &choice) override;
    SaveDialogResult saveFileDialog(QWidget *parent, const QString &title,
                                    const QStringList &filters, int initialIndex) override;
    std::unique_ptr<QSettings> openSettings() override;
    QString programFolder() override;
    QString dataFolder() override;
    QString environment(const QString &name) override;
    void seedRandomFromClock() override;
    double randomFraction() override;
    void sleep(int milliseconds) override;
    bool openUrl(const QUrl &url) override;
    void processEvents() override;

private:
    quint64 randomState_ = 0x853c49e6748fea9bULL;
};
