#pragma once

#include "platform/Services.h"

#include <QString>
#include <optional>
#include <utility>

class QWidget;

// The common dialog component: keeps its properties between uses and asks through the services.
// A cancelled dialog raises no error and leaves the properties as they were (the open dialog
// empties its file name).
class CommonDialog {
public:
    CommonDialog(Services &services, QWidget *owner) : services_(services), owner_(owner) {}

    QString FileName;
    QString DialogTitle;
    QString Filter;
    quint32 Color = 0;
    int Flags = 0;
    QString FontName;
    float FontSize = 8.0f;
    bool FontBold = false;
    bool FontItalic = false;
    bool FontStrikethru = false;
    bool FontUnderline = false;

    void ShowOpen();
    // The next ShowOpen takes this file name as the user's choice without asking (a file dropped
    // on the window); nullopt forgets an answer not used yet.
    void AnswerNextOpen(std::optional<QString> fileName) { nextOpen_ = std::move(fileName); }
    void ShowColor();
    void ShowFont();

private:
    Services &services_;
    QWidget *owner_;
    std::optional<QString> nextOpen_;
};

// Font dialog flag: screen fonts only, no effects offered.
constexpr int cdlCFScreenFonts = 0x1;
