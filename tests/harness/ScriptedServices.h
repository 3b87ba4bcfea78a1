#pragma once

#include "platform/Services.h"

#include <QColor>
#include <QList>
#include <QMap>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <optional>
#include <utility>

// Services that answer from a script and record what was asked, so a test reads like the
// user's session and nothing waits or opens a real window.
class ScriptedServices : public Services {
public:
    ScriptedServices();

    // ---- Scripts (consumed front first) ----
    QList<MsgAnswer> messageAnswers;              // empty: the default button's answer
    QList<QString> openAnswers;                   // empty: cancelled
    QList<std::optional<QColor>> colorAnswers;    // nullopt or empty: cancelled
    QList<std::optional<FontChoice>> fontAnswers; // nullopt or empty: cancelled
    // Answers the font dialog from what it proposes, once the scripted answers run out.
    std::function<std::optional<FontChoice>(const FontChoice &proposal)> fontAnswerer;
    QList<SaveDialogResult> saveAnswers; // empty: cancelled
    // Effect dialogs: the colour and amount chosen (nullopt or empty: cancelled).
    QList<std::optional<std::pair<QColor, int>>> effectAnswers;
    QList<double> randomDraws;  // empty: 0.5
    QMap<QString, QString> env; // variables that are set
    QString folder;             // the program folder
    // Runs while a message box is up (before it is answered); gets the request.
    std::function<void(const MessageRequest &)> onMessage;
    // Runs at each pause, before it is recorded; gets its length.
    std::function<void(int)> onSleep;
    // The converter program the save writes out, in place of the one built into the program.
    std::optional<QByteArray> converter;

    // ---- Records ----
    QList<MessageRequest> messages;
    QList<QString> openTitles;
    QList<QString> openFilters;
    QList<FontChoice> fontProposals;
    QList<bool> fontScreenOnly;
    QList<EffectChoice> effectRequests;
    QList<QStringList> saveFilters;
    QList<QString> saveTitles;
    QList<int> sleeps;
    QList<QUrl> openedUrls;
    int seeds = 0;
    int processEventsCalls = 0;
    bool openUrlResult = true;

    // The error reports shown so far (messages titled "Application Error").
    QList<MessageRequest> reports() const;
    QString settingsPath() const { return settingsPath_; }
    // Writes a raw value into the settings store, as an earlier run would have.
    void storeSetting(const QString &key, const QString &value);
    QString storedSetting(const QString &key) const;

    MsgAnswer messageBox(QWidget *parent, const MessageRequest &request) override;
    QString openFileDialog(QWidget *parent, const QString &title, const QString &filter,
                           const QString &fileName) override;
    bool colorDialog(QWidget *parent, QColor &colour) override;
    bool fontDialog(QWidget *parent, FontChoice &font, bool screenFontsOnly) override;
    bool effectDialog(QWidget *parent, EffectChoice &choice) override;
    SaveDialogResult saveFileDialog(QWidget *parent, const QString &title,
                                    const QStringList &filters, int initialIndex) override;
    std::unique_ptr<QSettings> openSettings() override;
    QString programFolder() override { return folder; }
    QString environment(const QString &name) override;
    void seedRandomFromClock() override { ++seeds; }
    double randomFraction() override;
    void sleep(int milliseconds) override;
    bool openUrl(const QUrl &url) override;
    void processEvents() override;
    QByteArray loadResource(const QString &type, int id) override;

private:
    QTemporaryDir dir_;
    QString settingsPath_;
};
