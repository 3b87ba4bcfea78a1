#include "app/Form1.h"

#include "resources/Layout.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>

namespace {

QFont windowFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(9.0);
    font.setBold(true);
    return font;
}

QFont buttonFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(11.25);
    font.setBold(true);
    return font;
}

QPushButton *makeButton(QWidget *parent, const QString &caption, const Layout::Twips &place) {
    auto *button = new QPushButton(caption, parent);
    button->setFont(buttonFont());
    button->setGeometry(place.pixels());
    button->setMouseTracking(true);
    button->setAutoDefault(false);
    return button;
}

} // namespace

Form1::Form1(Services &services, QWidget *parent) : QWidget(parent), services_(services) {
    CommonDialog1 = std::make_unique<CommonDialog>(services_, this);
    CommonDialog2 = std::make_unique<CommonDialog>(services_, this);
    createControls();
    connectControls();
    setUpShortcuts();
    setUpFileDrop();
    setUpCaptionBox();
    setUpWheelScrolling();
}

Form1::~Form1() = default;

void Form1::createControls() {
    setFont(windowFont());
    setMouseTracking(true);
    const QSize client(Layout::Twips::px(Layout::ClientWidth),
                       Layout::Twips::px(Layout::ClientHeight));
    setFixedSize(client);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0xF0, 0xF0, 0xF0));
    setPalette(pal);

    Picture2 = new PictureBox(this);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    Picture2->setGeometry(Layout::Picture2.pixels());
    Picture2->setBorder(Layout::ViewportBorder);
    Picture2->setFocusPolicy(Qt::StrongFocus);
    Picture2->client()->setFocusPolicy(Qt::NoFocus);

    Picture1 = new PictureBox(Picture2->client());
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(Layout::Picture1.pixels());
    Picture1->setFocusPolicy(Qt::StrongFocus);
    Picture1->hide();

    Text1 = new RichTextBox(Picture1);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setGeometry(Layout::Text1.pixels());
    {
        QFont f(QStringLiteral("Arial"));
        f.setPointSizeF(9.0);
        f.setBold(true);
        Text1->setBoxFont(f);
        Text1->setText(QStringLiteral("Your Text Goes Here"));
    }
    // Everything typed stays in view: the box grows with its text, downward until it reaches the
    // picture's lower edge, then upward, and its lines wrap at the picture's right edge.
    Text1->setGrowsWithText(true);
    Text1->setKeptWithinParent(true);
    Text1->hide();

    RichTextBox1 = new RichTextBox(Picture1);
    RichTextBox1->setObjectName(QStringLiteral("RichTextBox1"));
    RichTextBox1->setGeometry(Layout::RichTextBox1.pixels());
    {
        QFont f(QStringLiteral("Arial"));
        f.setPointSizeF(8.25);
        RichTextBox1->setBoxFont(f);
        RichTextBox1->setText(QStringLiteral("Your Text Goes Here"));
    }
    RichTextBox1->hide();
    RichTextBox1->setFocusPolicy(Qt::NoFocus);

    HScroll1 = new QScrollBar(Qt::Horizontal, this);
    HScroll1->setObjectName(QStringLiteral("HScroll1"));
    HScroll1->setGeometry(Layout::HScroll1.pixels());
    VScroll1 = new QScrollBar(Qt::Vertical, this);
    VScroll1->setObjectName(QStringLiteral("VScroll1"));
    VScroll1->setGeometry(Layout::VScroll1.pixels());
    // Arrow clicks move the picture by a few pixels, page clicks by most of the viewport.
    HScroll1->setPageStep(Picture2->scaleWidth() - 16);
    VScroll1->setPageStep(Picture2->scaleHeight() - 16);
    for (QScrollBar *bar : {HScroll1, VScroll1}) {
        bar->setRange(0, 32767);
        bar->setValue(0);
        bar->setSingleStep(16);
        // The picture moves when a dragged thumb is released, not while it is dragged.
        bar->setTracking(false);
        bar->setFocusPolicy(Qt::StrongFocus);
    }

    PushButton1 = makeButton(this, QStringLiteral("Load Picture"), Layout::PushButton1);
    PushButton7 =
        makeButton(this, QStringLiteral("Load Sample/Example Picture"), Layout::PushButton7);
    PushButton2 = makeButton(this, QStringLiteral("Change Fore Color"), Layout::PushButton2);
    PushButton3 = makeButton(this, QStringLiteral("Finish Editing Text"), Layout::PushButton3);
    PushButton5 = makeButton(this, QStringLiteral("Change Font"), Layout::PushButton5);
    PushButton8 = makeButton(this, QStringLiteral("Cancel Editing Text"), Layout::PushButton8);
    PushButton13 = makeButton(this, QStringLiteral("Reload Original Size"), Layout::PushButton13);
    PushButton12 =
        makeButton(this, QStringLiteral("Reload Original Picture"), Layout::PushButton12);
    PushButton4 = makeButton(this, QStringLiteral("Save As Image File"), Layout::PushButton4);
    PushButton6 = makeButton(this, QStringLiteral("Help"), Layout::PushButton6);

    Frame1 = new QGroupBox(QStringLiteral("Zoom:"), this);
    Frame1->setGeometry(Layout::Frame1.pixels());
    PushButton10 = makeButton(Frame1, QStringLiteral("Zoom In"), Layout::PushButton10);
    PushButton11 = makeButton(Frame1, QStringLiteral("Zoom Out"), Layout::PushButton11);

    Frame2 = new QGroupBox(QStringLiteral("Output JPG Quality Option"), this);
    Frame2->setGeometry(Layout::Frame2.pixels());
    Option21 = new QRadioButton(QStringLiteral("Smart-Detect"), Frame2);
    Option21->setGeometry(Layout::Option21.pixels());
    Option22 = new QRadioButton(QStringLiteral("Fixed Quality:"), Frame2);
    Option22->setGeometry(Layout::Option22.pixels());
    // A narrow gap between the round indicator and the caption, so the captions fit.
    Option21->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
    Option22->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
    // The two options exclude each other in code, so both can also be clear at once.
    Option21->setAutoExclusive(false);
    Option22->setAutoExclusive(false);
    Option21->setChecked(true);
    Option22->setChecked(false);
    Frame4 = new QGroupBox(QStringLiteral("0%"), Frame2);
    Frame4->setGeometry(Layout::Frame4.pixels());
    Slider1 = new QSlider(Qt::Horizontal, Frame4);
    Slider1->setGeometry(Layout::Slider1.pixels());
    Slider1->setRange(1, 100);
    Slider1->setSingleStep(1);
    Slider1->setPageStep(5);
    Slider1->setTickPosition(QSlider::TicksBelow);
    Slider1->setTickInterval(1);
    Slider1->setValue(85);
    PushButton9 = makeButton(Frame2, QStringLiteral("?"), Layout::PushButton9);

    const QString names[] = {"PushButton1", "PushButton2",  "PushButton3",  "PushButton4",
                             "PushButton5", "PushButton6",  "PushButton7",  "PushButton8",
                             "PushButton9", "PushButton10", "PushButton11", "PushButton12",
                             "PushButton13"};
    const QList<QPushButton *> buttons = pushButtons();
    for (int i = 0; i < buttons.size(); ++i) {
        buttons[i]->setObjectName(names[i]);
    }
    Frame1->setObjectName(QStringLiteral("Frame1"));
    Frame2->setObjectName(QStringLiteral("Frame2"));
    Frame4->setObjectName(QStringLiteral("Frame4"));
    Option21->setObjectName(QStringLiteral("Option21"));
    Option22->setObjectName(QStringLiteral("Option22"));
    Slider1->setObjectName(QStringLiteral("Slider1"));
    for (QWidget *w : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Frame2),
                       static_cast<QWidget *>(Frame4), static_cast<QWidget *>(Option21),
                       static_cast<QWidget *>(Option22)}) {
        w->setAutoFillBackground(true);
        QPalette white = w->palette();
        white.setColor(QPalette::Window, Qt::white);
        w->setPalette(white);
        w->setMouseTracking(true);
    }

    // Hidden boxes that are never shown: the zoom source and a spare.
    Zoom_Ori = new PictureBox(this);
    Zoom_Ori->setObjectName(QStringLiteral("Zoom_Ori"));
    Zoom_Ori->setGeometry(Layout::Zoom_Ori.pixels());
    Zoom_Ori->hide();
    Creator = new PictureBox(this);
    Creator->setObjectName(QStringLiteral("Creator"));
    Creator->setGeometry(Layout::Creator.pixels());
    Creator->hide();

    // Keyboard focus order of the visible controls.
    const QList<QWidget *> order = {
        Picture2,     Picture1,     VScroll1,    HScroll1,    PushButton1, PushButton3,
        PushButton8,  PushButton4,  PushButton2, PushButton5, PushButton6, PushButton7,
        Slider1,      Option21,     Option22,    PushButton9, Text1,       PushButton10,
        PushButton11, PushButton12, PushButton13};
    for (int i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

QList<QPushButton *> Form1::pushButtons() const {
    return {PushButton1,  PushButton2,  PushButton3, PushButton4, PushButton5,
            PushButton6,  PushButton7,  PushButton8, PushButton9, PushButton10,
            PushButton11, PushButton12, PushButton13};
}

void Form1::connectControls() {
    connect(PushButton1, &QPushButton::clicked, this, &Form1::PushButton1_Click);
    connect(PushButton2, &QPushButton::clicked, this, &Form1::PushButton2_Click);
    connect(PushButton3, &QPushButton::clicked, this, &Form1::PushButton3_Click);
    connect(PushButton4, &QPushButton::clicked, this, &Form1::PushButton4_Click);
    connect(PushButton5, &QPushButton::clicked, this, &Form1::PushButton5_Click);
    connect(PushButton6, &QPushButton::clicked, this, &Form1::PushButton6_Click);
    connect(PushButton7, &QPushButton::clicked, this, &Form1::PushButton7_Click);
    connect(PushButton8, &QPushButton::clicked, this, &Form1::PushButton8_Click);
    connect(PushButton9, &QPushButton::clicked, this, &Form1::PushButton9_Click);
    connect(PushButton10, &QPushButton::clicked, this, &Form1::PushButton10_Click);
    connect(PushButton11, &QPushButton::clicked, this, &Form1::PushButton11_Click);
    connect(PushButton12, &QPushButton::clicked, this, &Form1::PushButton12_Click);
    connect(PushButton13, &QPushButton::clicked, this, &Form1::PushButton13_Click);
    connect(Option21, &QRadioButton::clicked, this, [this] { setOptionValue(Option21, true); });
    connect(Option22, &QRadioButton::clicked, this, [this] { setOptionValue(Option22, true); });
    connect(Slider1, &QSlider::valueChanged, this, &Form1::Slider1_Change);
    connect(Slider1, &QSlider::sliderReleased, this, &Form1::Slider1_Change);
    connect(HScroll1, &QScrollBar::valueChanged, this, &Form1::HScroll1_Change);
    connect(VScroll1, &QScrollBar::valueChanged, this, &Form1::VScroll1_Change);
    connect(Picture1, &PictureBox::clicked, this, &Form1::Picture1_Click);
    connect(Picture1, &PictureBox::mouseMoved, this,
            [this](Qt::MouseButtons b, Qt::KeyboardModifiers m, QPointF p) {
                Picture1_MouseMove(b, m, float(p.x()), float(p.y()));
            });
    connect(Picture2, &PictureBox::clicked, this, &Form1::Picture2_Click);
    connect(Picture2, &PictureBox::mouseMoved, this, [this] { HoverPointer(vbDefault); });

    for (QPushButton *button : pushButtons()) {
        button->installEventFilter(this);
    }
    for (QWidget *w : {static_cast<QWidget *>(Frame1), static_cast<QWidget *>(Frame2),
                       static_cast<QWidget *>(Frame4), static_cast<QWidget *>(Option21),
                       static_cast<QWidget *>(Option22)}) {
        w->installEventFilter(this);
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseMove) {
        // Only moves over the control itself count, not those passed up from a child.
        auto *widget = static_cast<QWidget *>(watched);
        const auto *move = static_cast<QMouseEvent *>(event);
        if (widget->childAt(move->position().toPoint()) == nullptr) {
            const bool button = qobject_cast<QPushButton *>(watched) != nullptr;
            HoverPointer(button ? vbCustom : vbDefault);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::mouseMoveEvent(QMouseEvent *event) {
    if (childAt(event->position().toPoint()) == nullptr) {
        HoverPointer(vbDefault);
    }
    QWidget::mouseMoveEvent(event);
}

// Only a click outside every control is a click on the background: a press passed up from a
// frame, a caption, a disabled control or the empty part of an option button is not one.
void Form1::mousePressEvent(QMouseEvent *event) {
    backgroundPressed_ =
        event->button() == Qt::LeftButton && childAt(event->position().toPoint()) == nullptr;
    QWidget::mousePressEvent(event);
}

void Form1::mouseReleaseEvent(QMouseEvent *event) {
    const QPoint at = event->position().toPoint();
    const bool click = backgroundPressed_ && event->button() == Qt::LeftButton &&
                       rect().contains(at) && childAt(at) == nullptr;
    backgroundPressed_ = false;
    if (click) {
        Form_Click();
    }
    QWidget::mouseReleaseEvent(event);
}

void Form1::setMousePointer(int value) {
    mousePointer_ = value;
    applyPointer();
}

void Form1::HoverPointer(int value) {
    if (mousePointer_ != vbHourglass) {
        setMousePointer(value);
    }
}

void Form1::applyPointer() {
    switch (mousePointer_) {
    case vbHourglass:
        setCursor(Qt::WaitCursor);
        break;
    case vbCustom:
        if (hasHandCursor_) {
            setCursor(handCursor_);
        } else {
            setCursor(Qt::ArrowCursor);
        }
        break;
    default:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

void Form1::closeEvent(QCloseEvent *event) {
    if (!mayCloseWithUnsavedStamps()) {
        event->ignore();
        return;
    }
    Form_QueryUnload();
    Form_Unload();
    event->accept();
}

void Form1::Form_Unload() {
    // The program ends at once: nothing is asked, saved or deleted.
    QCoreApplication::exit(0);
}

void Form1::Form_Click() {
    FinishEditing();
}
