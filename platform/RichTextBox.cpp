#include "platform/RichTextBox.h"

#include <QTextCursor>
#include <QTextDocument>

RichTextBox::RichTextBox(QWidget *parent) : QTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    document()->setDocumentMargin(0);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
}

QString RichTextBox::text() const {
    return toPlainText();
}

void RichTextBox::setText(const QString &text) {
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    QTextCharFormat format = cursor.charFormat();
    if (!document()->isEmpty()) {
        QTextCursor first(document());
        first.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        format = first.charFormat();
    } else {
        format = currentCharFormat();
    }
    cursor.insertText(text, format);
    QTextCursor start(document());
    setTextCursor(start);
    setCurrentCharFormat(format);
}

int RichTextBox::selStart() const {
    return textCursor().selectionStart();
}

void RichTextBox::setSelStart(int start) {
    QTextCursor cursor = textCursor();
    const int length = int(toPlainText().size());
    cursor.setPosition(qBound(0, start, length));
    setTextCursor(cursor);
}

int RichTextBox::selLength() const {
    const QTextCursor cursor = textCursor();
    return cursor.selectionEnd() - cursor.selectionStart();
}

void RichTextBox::setSelLength(int length) {
    QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int total = int(toPlainText().size());
    cursor.setPosition(start);
    cursor.setPosition(qBound(start, start + qMax(0, length), total), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

quint32 RichTextBox::selColor() const {
    QTextCursor cursor = textCursor();
    QTextCharFormat format;
    if (cursor.hasSelection()) {
        QTextCursor first(document());
        first.setPosition(cursor.selectionStart());
        first.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        format = first.charFormat();
    } else {
        format = cursor.charFormat();
    }
    const QBrush brush = format.foreground();
    return ToColorRef(brush.style() == Qt::NoBrush ? QColor(Qt::black) : brush.color());
}

void RichTextBox::setSelColor(quint32 colour) {
    QTextCursor cursor = textCursor();
    QTextCharFormat format;
    format.setForeground(FromColorRef(colour));
    if (cursor.hasSelection()) {
        cursor.mergeCharFormat(format);
    }
    mergeCurrentCharFormat(format);
}

QFont RichTextBox::currentFont() const {
    if (!document()->isEmpty()) {
        QTextCursor first(document());
        first.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor);
        return first.charFormat().font();
    }
    return currentCharFormat().font();
}

void RichTextBox::applyWholeFont(const QFont &font) {
    QTextCharFormat format;
    format.setFont(font, QTextCharFormat::FontPropertiesAll);
    QTextCursor all(document());
    all.select(QTextCursor::Document);
    all.mergeCharFormat(format);
    mergeCurrentCharFormat(format);
    document()->setDefaultFont(font);
}

bool RichTextBox::fontBold() const {
    return currentFont().bold();
}
void RichTextBox::setFontBold(bool on) {
    QFont f = currentFont();
    f.setBold(on);
    applyWholeFont(f);
}
bool RichTextBox::fontItalic() const {
    return currentFont().italic();
}
void RichTextBox::setFontItalic(bool on) {
    QFont f = currentFont();
    f.setItalic(on);
    applyWholeFont(f);
}
QString RichTextBox::fontName() const {
    const QStringList families = currentFont().families();
    return families.isEmpty() ? currentFont().family() : families.constFirst();
}
void RichTextBox::setFontName(const QString &name) {
    QFont f = currentFont();
    f.setFamilies({name});
    applyWholeFont(f);
}
float RichTextBox::fontSize() const {
    return float(currentFont().pointSizeF());
}
void RichTextBox::setFontSize(float points) {
    if (!(points > 0.0f) || points > 2048.0f) {
        throw std::runtime_error("Invalid property value");
    }
    QFont f = currentFont();
    f.setPointSizeF(points);
    applyWholeFont(f);
}
bool RichTextBox::fontStrikethru() const {
    return currentFont().strikeOut();
}
void RichTextBox::setFontStrikethru(bool on) {
    QFont f = currentFont();
    f.setStrikeOut(on);
    applyWholeFont(f);
}
bool RichTextBox::fontUnderline() const {
    return currentFont().underline();
}
void RichTextBox::setFontUnderline(bool on) {
    QFont f = currentFont();
    f.setUnderline(on);
    applyWholeFont(f);
}

void RichTextBox::setWindowStyle(quint32 style) {
    style_ = style;
    emit windowStyleChanged();
}

quint32 ToColorRef(const QColor &colour) {
    return quint32(colour.red()) | (quint32(colour.green()) << 8) | (quint32(colour.blue()) << 16);
}

QColor FromColorRef(quint32 colour) {
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}
