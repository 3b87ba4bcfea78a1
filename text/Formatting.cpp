#include "app/ErrorReport.h"
#include "app/Form1.h"

// "Change Fore Color": one colour for the whole text of both boxes. A cancelled dialog re-applies
// the colour it returned last time (black on first use).
void Form1::PushButton2_Click() {
    Steps s(*this, "PushButton2_Click");
    s(100, [&] { RichTextBox1->setSelStart(0); });
    s(102, [&] { RichTextBox1->setSelLength(int(RichTextBox1->text().size())); });
    s(104, [&] { CommonDialog1->ShowColor(); });
    s(106, [&] { RichTextBox1->setSelColor(CommonDialog1->Color); });
    s(108, [&] { Text1->setSelStart(0); });
    s(110, [&] { Text1->setSelLength(int(Text1->text().size())); });
    s(112, [&] { Text1->setSelColor(CommonDialog1->Color); });
}

// "Change Font": one font for the whole text of both boxes, colour kept. The dialog opens on the
// box's own font (face, size, bold and italic), so a dialog left as it opened, or cancelled,
// changes nothing.
void Form1::PushButton5_Click() {
    Steps s(*this, "PushButton5_Click");
    quint32 colour = 0;
    s(100, [&] { colour = RichTextBox1->selColor(); });
    s(102, [&] { CommonDialog2->Flags = cdlCFScreenFonts; });
    s(104, [&] {
        CommonDialog2->FontName = Text1->fontName();
        CommonDialog2->FontSize = Text1->fontSize();
        CommonDialog2->FontBold = Text1->fontBold();
        CommonDialog2->FontItalic = Text1->fontItalic();
    });
    s(106, [&] { CommonDialog2->ShowFont(); });

    // The six attributes in the same order for each box; bold comes at the first line given.
    const auto applyFont = [&](RichTextBox *box, int line) {
        s(line, [&] { box->setFontBold(CommonDialog2->FontBold); });
        s(line + 2, [&] { box->setFontItalic(CommonDialog2->FontItalic); });
        s(line + 4, [&] { box->setFontName(CommonDialog2->FontName); });
        s(line + 6, [&] { box->setFontSize(CommonDialog2->FontSize); });
        s(line + 8, [&] { box->setFontStrikethru(CommonDialog2->FontStrikethru); });
        s(line + 10, [&] { box->setFontUnderline(CommonDialog2->FontUnderline); });
    };
    applyFont(Text1, 108);
    s(120, [&] { Text1->setSelStart(0); });
    s(122, [&] { Text1->setSelLength(int(Text1->text().size())); });
    s(124, [&] { Text1->setSelColor(colour); });
    applyFont(RichTextBox1, 126);
    s(138, [&] { RichTextBox1->setSelStart(0); });
    s(140, [&] { RichTextBox1->setSelLength(int(RichTextBox1->text().size())); });
    s(142, [&] { RichTextBox1->setSelColor(colour); });
    // A larger font throws a larger shadow: the box makes room for it.
    ShowCaptionLook();
}
