#include "platform/RichTextBox.h"

#include "platform/BoxMover.h"

#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <stdexcept>

// The sizing border of a box whose style holds WS_THICKFRAME: a ring of SizingBorder pixels around
// the box, a sibling of the box in the same parent, so the box's own rectangle (and the text in
// it) stays where it is. Dragging an edge moves that edge of the box; near a corner both edges
// move. Only the ring belongs to the widget, so it never covers the box or takes its clicks.
class SizingFrame : public QWidget {
public:
    explicit SizingFrame(RichTextBox *box) : QWidget(box->parentWidget()), box_(box) {
        setObjectName(box->objectName() + QStringLiteral("_SizingFrame"));
        setMouseTracking(true);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_NoSystemBackground);
    }

    // Puts the ring around the box's current rectangle.
    void follow() {
        constexpr int b = RichTextBox::SizingBorder;
        const QRect outer = box_->geometry().adjusted(-b, -b, b, b);
        setGeometry(outer);
        const QRect ring(0, 0, outer.width(), outer.height());
        setMask(QRegion(ring).subtracted(QRegion(ring.adjusted(b, b, -b, -b))));
        stackUnder(box_);
    }

protected:
    void paintEvent(QPaintEvent *) override {
        constexpr int b = RichTextBox::SizingBorder;
        QPainter painter(this);
        const QRect r = rect();
        painter.fillRect(r, palette().color(QPalette::Button));
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawRect(r.adjusted(0, 0, -1, -1));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(r.adjusted(b - 1, b - 1, -b, -b));
    }

    void mousePressEvent(QMouseEvent *event) override {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        edges_ = edgesAt(event->position().toPoint());
        pressedAt_ = event->globalPosition().toPoint();
        startGeometry_ = box_->geometry();
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent *event) override {
        if (!(event->buttons() & Qt::LeftButton) || edges_ == 0) {
            setCursor(cursorFor(edgesAt(event->position().toPoint())));
            event->accept();
            return;
        }
        const QPoint delta = event->globalPosition().toPoint() - pressedAt_;
        QRect g = startGeometry_;
        if (edges_ & Left) {
            g.setLeft(
                qMin(startGeometry_.left() + delta.x(), startGeometry_.right() + 1 - MinSize));
        }
        if (edges_ & Right) {
            g.setRight(
                qMax(startGeometry_.right() + delta.x(), startGeometry_.left() + MinSize - 1));
        }
        if (edges_ & Top) {
            g.setTop(qMin(startGeometry_.top() + delta.y(), startGeometry_.bottom() + 1 - MinSize));
        }
        if (edges_ & Bottom) {
            g.setBottom(
                qMax(startGeometry_.bottom() + delta.y(), startGeometry_.top() + MinSize - 1));
        }
        box_->setGeometry(g);
        follow();
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent *event) override {
        if (event->button() == Qt::LeftButton) {
            edges_ = 0;
        }
        event->accept();
    }

private:
    enum Edge { Left = 1, Right = 2, Top = 4, Bottom = 8 };
    // The smallest box a drag leaves, in pixels each way.
    static constexpr int MinSize = 8;
    // Along an edge, this far from a corner the drag takes the neighbouring edge as well.
    static constexpr int CornerReach = 12;

    int edgesAt(QPoint p) const {
        constexpr int b = RichTextBox::SizingBorder;
        const bool onLeft = p.x() < b, onRight = p.x() >= width() - b;
        const bool onTop = p.y() < b, onBottom = p.y() >= height() - b;
        int edges = 0;
        if (onLeft || ((onTop || onBottom) && p.x() < CornerReach)) {
            edges |= Left;
        }
        if (onRight || ((onTop || onBottom) && p.x() >= width() - CornerReach)) {
            edges |= Right;
        }
        if (onTop || ((onLeft || onRight) && p.y() < CornerReach)) {
            edges |= Top;
        }
        if (onBottom || ((onLeft || onRight) && p.y() >= height() - CornerReach)) {
            edges |= Bottom;
        }
        return edges;
    }

    static Qt::CursorShape cursorFor(int edges) {
        switch (edges) {
        case Left | Top:
        case Right | Bottom:
            return Qt::SizeFDiagCursor;
        case Right | Top:
        case Left | Bottom:
            return Qt::SizeBDiagCursor;
        case Left:
        case Right:
            return Qt::SizeHorCursor;
        case Top:
        case Bottom:
            return Qt::SizeVerCursor;
        default:
            return Qt::ArrowCursor;
        }
    }

    RichTextBox *box_;
    int edges_ = 0;
    QPoint pressedAt_;
    QRect startGeometry_;
};

RichTextBox::RichTextBox(QWidget *parent) : QTextEdit(parent) {
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setViewportMargins(0, 0, 0, 0);
    document()->setDocumentMargin(0);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    // The box's own sheet keeps it see-through whatever sheet the window is given.
    setStyleSheet(QStringLiteral("QTextEdit { background: transparent; }"));
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::transparent);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    // The view never scrolls: the box always shows its text from the first line, where a stamp
    // of the box draws it. Text beyond the box's lower edge is out of view until the box is made
    // taller.
    for (QScrollBar *bar : {verticalScrollBar(), horizontalScrollBar()}) {
        connect(bar, &QScrollBar::valueChanged, this, [bar](int value) {
            if (value != 0) {
                bar->setValue(0);
            }
        });
    }
    // Text starts black, as an explicit colour of the text itself.
    QTextCharFormat black;
    black.setForeground(QColor(Qt::black));
    mergeCurrentCharFormat(black);
    new AltDragMover(this);
}

RichTextBox::~RichTextBox() {
    delete frame_.data();
    delete grip_.data();
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

QFont RichTextBox::textFont() const {
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
    return textFont().bold();
}
void RichTextBox::setFontBold(bool on) {
    QFont f = textFont();
    f.setBold(on);
    applyWholeFont(f);
}
bool RichTextBox::fontItalic() const {
    return textFont().italic();
}
void RichTextBox::setFontItalic(bool on) {
    QFont f = textFont();
    f.setItalic(on);
    applyWholeFont(f);
}
QString RichTextBox::fontName() const {
    const QStringList families = textFont().families();
    return families.isEmpty() ? textFont().family() : families.constFirst();
}
void RichTextBox::setFontName(const QString &name) {
    QFont f = textFont();
    f.setFamilies({name});
    applyWholeFont(f);
}
float RichTextBox::fontSize() const {
    return float(textFont().pointSizeF());
}
void RichTextBox::setFontSize(float points) {
    if (!(points > 0.0f) || points > 2048.0f) {
        throw std::runtime_error("Invalid property value");
    }
    QFont f = textFont();
    f.setPointSizeF(points);
    applyWholeFont(f);
}
bool RichTextBox::fontStrikethru() const {
    return textFont().strikeOut();
}
void RichTextBox::setFontStrikethru(bool on) {
    QFont f = textFont();
    f.setStrikeOut(on);
    applyWholeFont(f);
}
bool RichTextBox::fontUnderline() const {
    return textFont().underline();
}
void RichTextBox::setFontUnderline(bool on) {
    QFont f = textFont();
    f.setUnderline(on);
    applyWholeFont(f);
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
