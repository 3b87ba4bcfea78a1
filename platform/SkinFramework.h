#pragma once

#include <QString>

class QWidget;

// The optional skin engine. A skin file is a Qt style sheet in UTF-8 text.
class SkinFramework {
public:
    // Loads the skin; throws when the file cannot be read or is not a style sheet.
    void LoadSkin(const QString &path, const QString &settingsFileName);
    int ApplyOptions = 0;
    bool ApplyColorSchemeColors = false;
    bool ApplyFonts = false;
    // Applies the loaded skin to a window and its controls.
    void ApplyWindow(QWidget *window);
    bool loaded() const { return !styleSheet_.isEmpty(); }

private:
    QString styleSheet_;
};
