#include "ScriptedServices.h"

#include <QCoreApplication>

ScriptedServices::ScriptedServices() {
    settingsPath_ = dir_.filePath(QStringLiteral("settings.ini"));
    folder = dir_.path();
}

QList<MessageRequest> ScriptedServices::reports() const {
    QList<MessageRequest> result;
    for (const MessageRequest &m : messages) {
        if (m.title == QStringLiteral("Application Error")) {
            result << m;
        }
    }
    return result;
}

void ScriptedServices::storeSetting(const QString &key, const QString &value) {
    QSettings settings(settingsPath_, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}

QString ScriptedServices::storedSetting(const QString &key) const {
    QSettings settings(settingsPath_, QSettings::IniFormat);
    return settings.value(key).toString();
}

MsgAnswer ScriptedServices::messageBox(QWidget *, const MessageRequest &request) {
    messages << request;
    if (onMessage) {
        onMessage(request);
    }
    if (!messageAnswers.isEmpty()) {
        return messageAnswers.takeFirst();
    }
    return DefaultAnswer(request);
}

QString ScriptedServices::openFileDialog(QWidget *, const QString &title, const QString &filter,
                                         const QString &) {
    openTitles << title;
    openFilters << filter;
    return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
}

bool ScriptedServices::colorDialog(QWidget *, QColor &colour) {
    if (colorAnswers.isEmpty()) {
        return false;
    }
    const std::optional<QColor> answer = colorAnswers.takeFirst();
    if (!answer) {
        return false;
    }
    colour = *answer;
    return true;
}

bool ScriptedServices::fontDialog(QWidget *, FontChoice &font, bool screenFontsOnly) {
    fontProposals << font;
    fontScreenOnly << screenFontsOnly;
    if (fontAnswers.isEmpty() && !fontAnswerer) {
        return false;
    }
    const std::optional<FontChoice> answer =
        fontAnswers.isEmpty() ? fontAnswerer(font) : fontAnswers.takeFirst();
    if (!answer) {
        return false;
    }
    const bool strike = font.strikethru;
    const bool under = font.underline;
    font = *answer;
    if (screenFontsOnly) {
        font.strikethru = strike;
        font.underline = under;
    }
    return true;
}

bool ScriptedServices::effectDialog(QWidget *, EffectChoice &choice) {
    effectRequests << choice;
    if (effectAnswers.isEmpty()) {
        return false;
    }
    const auto answer = effectAnswers.takeFirst();
    if (!answer) {
        return false;
    }
    choice.colour = answer->first;
    choice.amount = answer->second;
    return true;
}

SaveDialogResult ScriptedServices::saveFileDialog(QWidget *, const QString &title,
                                                  const QStringList &filters, int) {
    saveTitles << title;
    saveFilters << filters;
    return saveAnswers.isEmpty() ? SaveDialogResult{} : saveAnswers.takeFirst();
}

std::unique_ptr<QSettings> ScriptedServices::openSettings() {
    return std::make_unique<QSettings>(settingsPath_, QSettings::IniFormat);
}

QString ScriptedServices::environment(const QString &name) {
    const auto it = env.constFind(name);
    return it == env.constEnd() ? QString() : (it->isNull() ? QStringLiteral("") : *it);
}

double ScriptedServices::randomFraction() {
    return randomDraws.isEmpty() ? 0.5 : randomDraws.takeFirst();
}

bool ScriptedServices::openUrl(const QUrl &url) {
    openedUrls << url;
    return openUrlResult;
}

void ScriptedServices::processEvents() {
    ++processEventsCalls;
    QCoreApplication::processEvents();
}

void ScriptedServices::sleep(int milliseconds) {
    if (onSleep) {
        onSleep(milliseconds);
    }
    sleeps << milliseconds;
}

QByteArray ScriptedServices::loadResource(const QString &type, int id) {
    if (converter && type == QLatin1String("CUSTOM") && id == 101) {
        return *converter;
    }
    return Services::loadResource(type, id);
}
