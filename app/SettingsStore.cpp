#include "app/SettingsStore.h"

#include "app/ErrorReport.h"
#include "platform/Services.h"

#include <QSettings>
#include <cmath>

QString SettingsStore::GetSetting(const QString &key, const QString &defaultText) const {
    const std::unique_ptr<QSettings> settings = services_.openSettings();
    if (!settings) {
        return defaultText;
    }
    // Only the program's own place counts: not the organisation-wide file nor the system's
    // folders, where another program's values would change this one's behaviour.
    settings->setFallbacksEnabled(false);
    if (!settings->contains(key)) {
        return defaultText;
    }
    const QVariant value = settings->value(key);
    if (!value.canConvert<QString>()) {
        throw RuntimeError("Type mismatch");
    }
    return value.toString();
}

void SettingsStore::SaveSetting(const QString &key, const QString &text) {
    const std::unique_ptr<QSettings> settings = services_.openSettings();
    if (!settings) {
        return;
    }
    settings->setValue(key, text);
    settings->sync();
}

namespace {

bool parseNumber(const QString &text, double &number) {
    bool ok = false;
    number = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(number);
}

} // namespace

bool ReadBoolean(const QString &text) {
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QStringLiteral("True"), Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (trimmed.compare(QStringLiteral("False"), Qt::CaseInsensitive) == 0) {
        return false;
    }
    double number = 0;
    if (!parseNumber(text, number)) {
        throw RuntimeError("Type mismatch");
    }
    return number != 0.0;
}

qint16 ReadWholeNumber(const QString &text) {
    double number = 0;
    if (!parseNumber(text, number)) {
        throw RuntimeError("Type mismatch");
    }
    const double rounded = std::nearbyint(number); // the default rounding: halves to even
    if (rounded < -32768.0 || rounded > 32767.0) {
        throw RuntimeError("Overflow");
    }
    return qint16(rounded);
}

QString BooleanText(bool value) {
    return value ? QStringLiteral("True") : QStringLiteral("False");
}
