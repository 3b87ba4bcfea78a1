#include "platform/CommonDialog.h"

#include "platform/RichTextBox.h"

void CommonDialog::ShowOpen() {
    if (nextOpen_) {
        FileName = *std::exchange(nextOpen_, std::nullopt);
        return;
    }
    FileName = services_.openFileDialog(owner_, DialogTitle, Filter, FileName);
}

void CommonDialog::ShowColor() {
    QColor colour = FromColorRef(Color);
    if (services_.colorDialog(owner_, colour)) {
        Color = ToColorRef(colour);
    }
}

void CommonDialog::ShowFont() {
    FontChoice choice;
    choice.name = FontName;
    choice.size = FontSize;
    choice.bold = FontBold;
    choice.italic = FontItalic;
    choice.strikethru = FontStrikethru;
    choice.underline = FontUnderline;
    if (!services_.fontDialog(owner_, choice, (Flags & cdlCFScreenFonts) != 0)) {
        return;
    }
    FontName = choice.name;
    FontSize = choice.size;
    FontBold = choice.bold;
    FontItalic = choice.italic;
    FontStrikethru = choice.strikethru;
    FontUnderline = choice.underline;
}
