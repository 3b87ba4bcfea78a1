#include "platform/RichTextBox.h"

#include "platform/BoxMover.h"
#include "platform/SizingFrame.h"

#include <QAbstractTextDocumentLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cmath>
#include <stdexcept>

RichTextBox::RichTextBox(QWidget *parent) : QTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setViewportMargins(0, 0, 0, 0);
    document()->setDocumentMargin(0);
    // Pasted and dropped text comes in as plain text, in the box's own look.
    setAcceptRichText(false);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    // The box's own sheet keeps it see-through whatever sheet the window is given.
    setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    setPalette(pal);
    applyColour();
    font_ = font();
    // The view never scrolls: the box always shows its text from the first line, where a stamp
    // of the box draws it.
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()}) {
        connect(bar, &QScrollBar::valueChanged, this, [bar](int value) {
            if (value != 0) {
                bar->setValue(0);
            }
        });
    }
    connect(document(), &QTextDocument::contentsChanged, this, &RichTextBox::fitToText);
    connect(document(), &QTextDocument::contentsChanged, this, &RichTextBox::hideOwnGlyphs);
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &RichTextBox::fitToText);
    new AltDragMover(this);
}

RichTextBox::~RichTextBox() {
    delete frame_.data();
    delete grip_.data();
}

QString RichTextBox::text() const {
    QString raw = document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
}

void RichTextBox::setText(const QString &text) {
    // Text put in by the program starts the box's undo history: an undo never brings back what
    // the box held before.
    document()->setUndoRedoEnabled(false);
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(text, QTextCharFormat());
    clearCharacterFormats();
    document()->setUndoRedoEnabled(true);
    setTextCursor(QTextCursor(document()));
}

int RichTextBox::selStart() const {
    return textCursor().selectionStart();
}

void RichTextBox::setSelStart(int start) {
    QTextCursor cursor = textCursor();
    const int length = int(text().size());
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
    const int total = int(text().size());
    cursor.setPosition(start);
    cursor.setPosition(qBound(start, start + qMax(0, length), total), QTextCursor::KeepAnchor);
    setTextCursor(cursor);
}

void RichTextBox::setSelColor(quint32 colour) {
    colour_ = colour & 0x00FFFFFFu;
    applyColour();
    clearCharacterFormats();
}

void RichTextBox::applyColour() {
    QPalette pal = palette();
    pal.setColor(QPalette::Text, FromColorRef(colour_));
    setPalette(pal);
    viewport()->update();
}

// Formatting the characters may carry (text put in through the programming interface as rich
// text) gives way to the box's own look.
void RichTextBox::clearCharacterFormats() {
    bool formatted = false;
    for (QTextBlock b = document()->begin(); b.isValid() && !formatted; b = b.next()) {
        formatted =
            !b.blockFormat().properties().isEmpty() || !b.charFormat().properties().isEmpty();
        for (auto it = b.begin(); !it.atEnd() && !formatted; ++it) {
            formatted = !it.fragment().charFormat().properties().isEmpty();
        }
    }
    if (formatted) {
        QTextCursor all(document());
        all.select(QTextCursor::Document);
        all.setBlockFormat(QTextBlockFormat());
        all.setBlockCharFormat(QTextCharFormat());
        all.setCharFormat(QTextCharFormat());
    }
    setCurrentCharFormat(QTextCharFormat());
}

void RichTextBox::setBoxFont(const QFont &font) {
    applyFont(font);
}

void RichTextBox::applyFont(const QFont &font) {
    font_ = font;
    QWidget::setFont(font_);
    document()->setDefaultFont(font_);
    clearCharacterFormats();
    fitToText();
    viewport()->update();
}

void RichTextBox::changeEvent(QEvent *event) {
    QTextEdit::changeEvent(event);
    // The text edit hands a font passed down from the window to its text; the box keeps its own.
    if (event->type() == QEvent::FontChange && document()->defaultFont() != font_) {
        document()->setDefaultFont(font_);
    }
}

bool RichTextBox::fontBold() const {
    return font_.bold();
}
void RichTextBox::setFontBold(bool on) {
    QFont f = font_;
    f.setBold(on);
    applyFont(f);
}
bool RichTextBox::fontItalic() const {
    return font_.italic();
}
void RichTextBox::setFontItalic(bool on) {
    QFont f = font_;
    f.setItalic(on);
    applyFont(f);
}
QString RichTextBox::fontName() const {
    const QStringList families = font_.families();
    return families.isEmpty() ? font_.family() : families.constFirst();
}
void RichTextBox::setFontName(const QString &name) {
    QFont f = font_;
    f.setFamilies({name});
    applyFont(f);
}
float RichTextBox::fontSize() const {
    return float(font_.pointSizeF());
}
void RichTextBox::setFontSize(float points) {
    if (!(points > 0.0f) || points > 2048.0f) {
        throw std::runtime_error("Invalid property value");
    }
    QFont f = font_;
    f.setPointSizeF(points);
    applyFont(f);
}
bool RichTextBox::fontStrikethru() const {
    return font_.strikeOut();
}
void RichTextBox::setFontStrikethru(bool on) {
    QFont f = font_;
    f.setStrikeOut(on);
    applyFont(f);
}
bool RichTextBox::fontUnderline() const {
    return font_.underline();
}
void RichTextBox::setFontUnderline(bool on) {
    QFont f = font_;
    f.setUnderline(on);
    applyFont(f);
}

Qt::Alignment RichTextBox::textAlignment() const {
    return document()->defaultTextOption().alignment() & Qt::AlignHorizontal_Mask;
}

void RichTextBox::setTextAlignment(Qt::Alignment alignment) {
    QTextOption option = document()->defaultTextOption();
    option.setAlignment(alignment & Qt::AlignHorizontal_Mask);
    document()->setDefaultTextOption(option);
    clearCharacterFormats();
    viewport()->update();
}

void RichTextBox::setGrowsWithText(bool on) {
    grows_ = on;
    fitToText();
}

void RichTextBox::setExtraBelow(int pixels) {
    extraBelow_ = qMax(0, pixels);
    fitToText();
}

void RichTextBox::setPadding(int pixels) {
    if (document()->documentMargin() != qreal(qMax(0, pixels))) {
        document()->setDocumentMargin(qMax(0, pixels));
        fitToText();
    }
}

void RichTextBox::setKeptWithinParent(bool on) {
    within_ = on;
    if (on && parentWidget() != nullptr) {
        parentWidget()->installEventFilter(this);
    }
    fitToText();
}

bool RichTextBox::eventFilter(QObject *watched, QEvent *event) {
    if (within_ && watched == parentWidget() && event->type() == QEvent::Resize) {
        fitToText();
    }
    return QTextEdit::eventFilter(watched, event);
}

void RichTextBox::resize(int w, int h) {
    givenWidth_ = w;
    givenHeight_ = h;
    QWidget::resize(w, h);
    fitToText();
}

void RichTextBox::setGeometry(int x, int y, int w, int h) {
    givenWidth_ = w;
    givenHeight_ = h;
    QWidget::setGeometry(x, y, w, h);
    fitToText();
}

int RichTextBox::textHeight() const {
    if (document()->textWidth() != qreal(width())) {
        document()->setTextWidth(width());
    }
    return int(std::ceil(document()->size().height()));
}

// As tall as the text and the room under it need, at the box's own width, never less than the
// height last given; kept within the parent when asked.
void RichTextBox::fitToText() {
    if (!grows_) {
        return;
    }
    const QWidget *area = within_ ? parentWidget() : nullptr;
    int w = width();
    if (area != nullptr && givenWidth_ > 0) {
        w = qBound(1, area->width() - x(), givenWidth_);
    }
    // Laid out at the box's width even while the box is hidden and its view not yet resized.
    if (document()->textWidth() != qreal(w)) {
        document()->setTextWidth(w);
    }
    const int needed = int(std::ceil(document()->size().height())) + extraBelow_;
    const int h = qMax(givenHeight_, needed);
    int top = y();
    if (area != nullptr && top + h > area->height()) {
        top = qMax(area->height() - h, qMin(top, 0));
    }
    if (QRect(x(), top, w, h) != geometry()) {
        QWidget::setGeometry(x(), top, w, h);
    }
}

void RichTextBox::setContentPainter(ContentPainter painter) {
    contentPainter_ = std::move(painter);
    viewport()->update();
}

void RichTextBox::setGlyphsLeftToPainter(bool on) {
    if (glyphsToPainter_ != on) {
        glyphsToPainter_ = on;
        hideOwnGlyphs();
    }
}

// The text edit's own drawing of the glyphs is hidden under a selection of the whole text in a
// see-through colour; the caret and the user's selection still show.
void RichTextBox::hideOwnGlyphs() {
    QList<ExtraSelection> hidden;
    if (glyphsToPainter_) {
        ExtraSelection all;
        all.cursor = QTextCursor(document());
        all.cursor.select(QTextCursor::Document);
        all.format.setForeground(QBrush(Qt::transparent));
        hidden << all;
    }
    if (!hidden.isEmpty() || !extraSelections().isEmpty()) {
        setExtraSelections(hidden);
    }
}

void RichTextBox::paintEvent(QPaintEvent *event) {
    // The caret and the selection belong to editing: without the focus the box shows its text
    // as it is, nothing more.
    const bool editing = hasFocus();
    {
        QPainter painter(viewport());
        painter.setClipRect(event->rect());
        if (contentPainter_) {
            contentPainter_(painter, !editing || glyphsToPainter_);
        } else if (!editing) {
            QAbstractTextDocumentLayout::PaintContext context;
            context.palette = palette();
            context.clip = event->rect();
            document()->documentLayout()->draw(&painter, context);
        }
    }
    if (editing) {
        QTextEdit::paintEvent(event);
    }
}

void RichTextBox::focusInEvent(QFocusEvent *event) {
    QTextEdit::focusInEvent(event);
    viewport()->update();
}

void RichTextBox::focusOutEvent(QFocusEvent *event) {
    QTextEdit::focusOutEvent(event);
    viewport()->update();
}

void RichTextBox::setWindowStyle(quint32 style) {
    style_ = style;
    updateSizingFrame();
    emit windowStyleChanged();
}

QWidget *RichTextBox::sizingFrame() const {
    return frame_.data();
}

QWidget *RichTextBox::moveGrip() const {
    return grip_.data();
}

void RichTextBox::setVisible(bool visible) {
    const bool hadFocus = !visible && hasFocus();
    QTextEdit::setVisible(visible);
    // A text edit keeps the keyboard focus when it is hidden (it does not pass it on as other
    // widgets do), so keys would go on editing the hidden text and never reach the window's
    // shortcuts; the parent takes the focus instead.
    if (hadFocus && hasFocus() && parentWidget() != nullptr) {
        parentWidget()->setFocus(Qt::OtherFocusReason);
    }
    updateSizingFrame();
}

bool RichTextBox::event(QEvent *event) {
    const bool handled = QTextEdit::event(event);
    switch (event->type()) {
    case QEvent::Move:
        fitToText();
        updateSizingFrame();
        break;
    case QEvent::Resize:
    case QEvent::ParentChange:
        updateSizingFrame();
        break;
    default:
        break;
    }
    return handled;
}

void RichTextBox::updateSizingFrame() {
    const bool wanted = (style_ & WS_THICKFRAME) != 0 && !isHidden() && parentWidget() != nullptr;
    if (frame_ != nullptr && frame_->parentWidget() != parentWidget()) {
        delete frame_.data();
    }
    if (grip_ != nullptr && grip_->parentWidget() != parentWidget()) {
        delete grip_.data();
    }
    if (!wanted) {
        if (frame_ != nullptr) {
            frame_->hide();
        }
        if (grip_ != nullptr) {
            grip_->hide();
        }
        return;
    }
    if (frame_ == nullptr) {
        frame_ = new SizingFrame(this);
    }
    frame_->follow();
    frame_->show();
    if (grip_ == nullptr) {
        grip_ = new BoxMoveGrip(this);
    }
    grip_->follow();
    grip_->show();
}

quint32 ToColorRef(const QColor &colour) {
    return quint32(colour.red()) | (quint32(colour.green()) << 8) | (quint32(colour.blue()) << 16);
}

QColor FromColorRef(quint32 colour) {
    return QColor(int(colour & 0xFF), int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF));
}
