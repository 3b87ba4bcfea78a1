#pragma once

#include <QPointer>
#include <QTextEdit>
#include <functional>

// Window style bits the editing box keeps as plain values.
constexpr quint32 WS_THICKFRAME = 0x00040000;
constexpr quint32 WS_EX_TOPMOST = 0x00000008;
constexpr quint32 WS_EX_TRANSPARENT = 0x00000020;

class SizingFrame;
class BoxMoveGrip;

// A rich-text box with the properties the program uses: plain text, selection start and length,
// colour (0x00BBGGRR), font, alignment, and the window style words.
// The box keeps one font, one colour and one alignment for all of its text, as properties of
// its own: its characters carry no formatting, so an emptied box types on in the same look, and
// pasted or dropped text arrives as plain text in it. Setting the colour or a font attribute
// restyles the whole text, whatever is selected.
// Frameless, with a transparent background, so the picture under it shows through; the text
// starts at the box's top-left corner and wraps at the box's width; no scroll bar ever shows and
// the view never scrolls. The selection and the caret show only while the box has the keyboard
// focus. A box that grows with its text is as tall as its text needs, never less than the
// height it was last given.
// While the style word holds WS_THICKFRAME a sizing border lies around the box (outside its
// rectangle, so the text does not move); dragging the border resizes the box. The box's geometry
// is always its outer rectangle. With the border goes a grip that moves the box (see BoxMover.h).
class RichTextBox : public QTextEdit {
    Q_OBJECT
public:
    explicit RichTextBox(QWidget *parent = nullptr);
    ~RichTextBox() override;

    // Width in pixels of the sizing border on each side of the box.
    static constexpr int SizingBorder = 4;

    // The text as typed: lines end in "\n"; every other character (no-break spaces included)
    // is kept as it is.
    QString text() const;
    // Replaces the whole text with plain text; the box's undo history starts anew.
    void setText(const QString &text);

    int selStart() const;
    void setSelStart(int start);
    int selLength() const;
    void setSelLength(int length);
    // The colour of the box's text.
    quint32 selColor() const { return colour_; }
    void setSelColor(quint32 colour);

    // The box's font as a whole.
    QFont boxFont() const { return font_; }
    void setBoxFont(const QFont &font);
    bool fontBold() const;
    void setFontBold(bool on);
    bool fontItalic() const;
    void setFontItalic(bool on);
    QString fontName() const;
    void setFontName(const QString &name);
    float fontSize() const;
    void setFontSize(float points);
    bool fontStrikethru() const;
    void setFontStrikethru(bool on);
    bool fontUnderline() const;
    void setFontUnderline(bool on);

    // Left, centre or right: how every line of the text lies across the box's width.
    Qt::Alignment textAlignment() const;
    void setTextAlignment(Qt::Alignment alignment);

    // The box grows downward with its text when on; extraBelow is room kept under the last line
    // for what the painter draws around the glyphs.
    void setGrowsWithText(bool on);
    // A growing box kept within its parent never reaches past the parent's right or lower edge:
    // it is narrowed so that its lines wrap at the right edge, and once its text reaches the
    // lower edge it grows upward instead (its top moves up, down to the parent's top).
    void setKeptWithinParent(bool on);
    void setExtraBelow(int pixels);
    // A margin around the text, on every side (0 at first).
    void setPadding(int pixels);
    // The height the box was last given (by the program or a drag of its border), which it
    // never goes below.
    int givenHeight() const { return givenHeight_; }
    // The height the text itself needs (within the padding) at the box's width.
    int textHeight() const;

    // Paints what the box shows under its caret and selection. With glyphs false only what lies
    // under the text (the box draws the glyphs, the selection and the caret over it, while it
    // has the focus); with glyphs true everything the text shows. Without a painter the box
    // shows its text alone.
    using ContentPainter = std::function<void(QPainter &painter, bool glyphs)>;
    void setContentPainter(ContentPainter painter);
    // When on, the painter draws the glyphs at all times: while the box has the focus it draws
    // only the caret and the selection over them.
    void setGlyphsLeftToPainter(bool on);
    bool glyphsLeftToPainter() const { return glyphsToPainter_; }

    quint32 windowStyle() const { return style_; }
    void setWindowStyle(quint32 style);
    quint32 extendedStyle() const { return exStyle_; }
    void setExtendedStyle(quint32 style) { exStyle_ = style; }
    // The sizing border (null until the style first asks for one).
    QWidget *sizingFrame() const;
    // The grip that moves the box (null until the style first asks for a sizing border).
    QWidget *moveGrip() const;

    void setVisible(bool visible) override;

    // Geometry given by the program or by a drag of the sizing border; the height given is the
    // least the box keeps while it grows with its text.
    void resize(int w, int h);
    void resize(const QSize &size) { resize(size.width(), size.height()); }
    void setGeometry(int x, int y, int w, int h);
    void setGeometry(const QRect &rect) {
        setGeometry(rect.x(), rect.y(), rect.width(), rect.height());
    }

signals:
    void windowStyleChanged();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void updateSizingFrame();
    void applyFont(const QFont &font);
    void applyColour();
    void clearCharacterFormats();
    void fitToText();
    void hideOwnGlyphs();

    quint32 style_ = 0x50010000; // WS_CHILD | WS_VISIBLE | WS_TABSTOP
    quint32 exStyle_ = 0;
    quint32 colour_ = 0;
    QFont font_;
    bool grows_ = false;
    bool within_ = false;
    bool glyphsToPainter_ = false;
    int givenWidth_ = 0;
    int extraBelow_ = 0;
    int givenHeight_ = 0;
    ContentPainter contentPainter_;
    QPointer<SizingFrame> frame_;
    QPointer<BoxMoveGrip> grip_;
};

// Converts between the box's 0x00BBGGRR colour values and Qt colours.
quint32 ToColorRef(const QColor &colour);
QColor FromColorRef(quint32 colour);
