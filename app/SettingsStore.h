#pragma once

#include <QString>

class Services;

// The per-user settings store: text values under "Pellorin" / "Glyphtack" / key.
class SettingsStore {
public:
    explicit SettingsStore(Services &services) : services_(services) {}
    // The stored text, or the default text when nothing is stored. Never creates anything.
    QString GetSetting(const QString &key, const QString &defaultText) const;
    // Stores the text at once, replacing any previous value.
    void SaveSetting(const QString &key, const QString &text);

private:
    Services &services_;
};

// "True" or "False" in any letter case, or a number (0 is false); anything else throws.
bool ReadBoolean(const QString &text);
// A number rounded to the nearest whole number, halves to even, as a 16-bit integer; throws for
// text that is not a number, and for a number out of range.
qint16 ReadWholeNumber(const QString &text);
// The text stored for a boolean.
QString BooleanText(bool value);
