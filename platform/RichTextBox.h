#pragma once

#include <QPointer>
#include <QTextEdit>

// Window style bits the editing box keeps as plain values.
constexpr quint32 WS_THICKFRAME = 0x00040000;
constexpr quint32 WS_EX_TOPMOST = 0x00000008;
constexpr quint32 WS_EX_TRANSPARENT = 0x00000020;

class SizingFrame;
class BoxMoveGrip;

// A rich-text box with the properties the program uses: plain text, selection start and length,
// selection colour (0x00BBGGRR), a font that restyles the whole text, and the window style words.
// Frameless, with a transparent background, so the picture under it shows through; the text
// starts at the box's top-left corner and wraps at the box's width; no scroll bar ever shows and
// the view never scrolls.
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

    QString text() const;
    // Replaces the whole text with plain text in the box's current font and colour.
    void setText(const QString &text);

    int selStart() const;
    void setSelStart(int start);
    int selLength() const;
    void setSelLength(int length);
    quint32 selColor() const;
    void setSelColor(quint32 colour);

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

    quint32 windowStyle() const { return style_; }
    void setWindowStyle(quint32 style);
    quint32 extendedStyle() const { return exStyle_; }
    void setExtendedStyle(quint32 style) { exStyle_ = style; }
    // The sizing border (null until the style first asks for one).
    QWidget *sizingFrame() const;
    // The grip that moves the box (null until the style first asks for a sizing border).
    QWidget *moveGrip() const;

    void setVisible(bool visible) override;

signals:
    void windowStyleChanged();

protected:
    bool event(QEvent *event) override;

private:
    void updateSizingFrame();
    void applyWholeFont(const QFont &font);
    QFont textFont() const;

    quint32 style_ = 0x50010000; // WS_CHILD | WS_VISIBLE | WS_TABSTOP
    quint32 exStyle_ = 0;
    QPointer<SizingFrame> frame_;
    QPointer<BoxMoveGrip> grip_;
};

// Converts between the box's 0x00BBGGRR colour values and Qt colours.
quint32 ToColorRef(const QColor &colour);
QColor FromColorRef(quint32 colour);
