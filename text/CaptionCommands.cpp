#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "text/BoxCaption.h"
#include "text/RenderText.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <exception>

namespace {

// The box over a picture enlarged by the zoom shows what its stamp will leave: the caption drawn
// into a copy of the picture pixels under the box, at the picture's resolution, by the stamp's own
// function, then enlarged pixel by pixel as the view enlarges the picture. The painter's origin is
// the box's top-left corner.
void paintStampPreview(QPainter &painter, const PictureBox &display, const QImage &picture,
                       const RichTextBox &box, const CaptionEffects &effects) {
    const qreal zoom = display.viewScale();
    const QTransform fromBox = QTransform::fromScale(1.0 / zoom, 1.0 / zoom);
    const QRect under = fromBox.mapRect(QRectF(box.geometry())).toAlignedRect() & picture.rect();
    if (under.isEmpty()) {
        return;
    }
    QImage patch = picture.copy(under);
    try {
        DrawBoxCaption(patch, fromBox * QTransform::fromTranslate(-under.x(), -under.y()), &box,
                       effects, display.size());
    } catch (const std::exception &) {
        // A box whose rectangle the stamp could not work out shows the picture alone, as the
        // stamp would leave it.
    }
    painter.drawImage(QRectF(under.x() * zoom - box.x(), under.y() * zoom - box.y(),
                             under.width() * zoom, under.height() * zoom),
                      patch);
}

} // namespace

// The editing box shows its caption as the stamp will draw it: what lies under the glyphs is
// drawn by the same function as the stamp, and so are the glyphs whenever the box is not being
// typed in (the box draws them itself, with the caret and the selection, while it has the focus).
// Over an enlarged picture the box shows the stamp itself, blocks of picture pixels and all, and
// draws only its caret and selection over it.
// The caption commands are actions of the window, so their keys work wherever the focus is, the
// open box included; the context menus show them with their keys.
void Form1::setUpCaptionBox() {
    Text1->setContentPainter([this](QPainter &painter, bool glyphs) {
        if (Text1->glyphsLeftToPainter() && Picture1->isView()) {
            paintStampPreview(painter, *Picture1, Zoom_Ori->picture(), *Text1, editing.effects);
            return;
        }
        DrawCaption(painter, CaptionOf(*Text1, editing.effects), QSizeF(Text1->size()), glyphs);
    });

    const auto command = [this](const QString &text, const QKeySequence &key, auto slot) {
        auto *action = new QAction(text, this);
        action->setShortcut(key);
        action->setShortcutVisibleInContextMenu(true);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    CaptionActions &a = captionActions;
    a.alignLeft = command(tr("Align &Left"), QKeySequence(Qt::CTRL | Qt::Key_L),
                          [this] { AlignText(Qt::AlignLeft); });
    a.alignCentre = command(tr("Align &Center"), QKeySequence(Qt::CTRL | Qt::Key_E),
                            [this] { AlignText(Qt::AlignHCenter); });
    a.alignRight = command(tr("Align &Right"), QKeySequence(Qt::CTRL | Qt::Key_R),
                           [this] { AlignText(Qt::AlignRight); });
    auto *alignments = new QActionGroup(this);
    for (QAction *align : {a.alignLeft, a.alignCentre, a.alignRight}) {
        align->setCheckable(true);
        alignments->addAction(align);
    }
    a.outline = command(tr("&Outline..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O),
                        [this] { ChooseOutline(); });
    a.shadow = command(tr("Drop &Shadow"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D),
                       [this] { ToggleShadow(); });
    a.shadow->setCheckable(true);
    a.plate = command(tr("Background &Plate..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_B),
                      [this] { ChoosePlate(); });
    a.reEdit =
        command(tr("Re-&edit Last Stamp"), QKeySequence(Qt::Key_F2), [this] { ReEditLastStamp(); });

    Text1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Text1, &QWidget::customContextMenuRequested, this,
            [this](QPoint at) { CaptionMenu(true)->popup(Text1->viewport()->mapToGlobal(at)); });
    Picture1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Picture1, &QWidget::customContextMenuRequested, this,
            [this](QPoint at) { CaptionMenu(false)->popup(Picture1->mapToGlobal(at)); });
    ShowCaptionLook();
}

void Form1::ShowCaptionLook() {
    const Caption caption = CaptionOf(*Text1, editing.effects);
    Text1->setPadding(CaptionPadding(caption));
    Text1->setExtraBelow(CaptionRoomBelow(caption));
    Text1->viewport()->update();
    CaptionActions &a = captionActions;
    if (a.alignLeft != nullptr) {
        const Qt::Alignment align = caption.alignment;
        a.alignLeft->setChecked(!(align & (Qt::AlignHCenter | Qt::AlignRight)));
        a.alignCentre->setChecked((align & Qt::AlignHCenter) != 0);
        a.alignRight->setChecked((align & Qt::AlignRight) != 0);
        a.shadow->setChecked(caption.effects.shadow);
    }
}

QMenu *Form1::CaptionMenu(bool onBox) {
    QMenu *menu = onBox ? Text1->createStandardContextMenu() : new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const auto entry = [menu](const QString &text, const QKeySequence &key, bool enabled,
                              auto slot) {
        QAction *action = menu->addAction(text);
        action->setShortcut(key);
        action->setShortcutVisibleInContextMenu(true);
        action->setEnabled(enabled);
        QObject::connect(action, &QAction::triggered, slot);
    };
    const CaptionActions &a = captionActions;
    if (onBox) {
        // The text box's own entries, with their keys shown whatever the desktop's habit.
        const struct {
            const char *name;
            QKeySequence::StandardKey key;
        } keys[] = {{"edit-undo", QKeySequence::Undo},      {"edit-redo", QKeySequence::Redo},
                    {"edit-cut", QKeySequence::Cut},        {"edit-copy", QKeySequence::Copy},
                    {"edit-paste", QKeySequence::Paste},    {"edit-delete", QKeySequence::Delete},
                    {"select-all", QKeySequence::SelectAll}};
        for (QAction *own : menu->actions()) {
            for (const auto &k : keys) {
                if (own->objectName() == QLatin1String(k.name)) {
                    own->setText(own->text().section(QLatin1Char('\t'), 0, 0));
                    own->setShortcut(k.key);
                    own->setShortcutVisibleInContextMenu(true);
                }
            }
        }
        menu->addSeparator();
    } else {
        a.reEdit->setEnabled(CanReEditLastStamp());
        menu->addAction(a.reEdit);
        entry(tr("&Undo Stamp"), QKeySequence(Qt::CTRL | Qt::Key_Z), history.canUndo(),
              [this] { UndoStamp(); });
        entry(tr("Re&do Stamp"), QKeySequence(Qt::CTRL | Qt::Key_Y), history.canRedo(),
              [this] { RedoStamp(); });
        menu->addSeparator();
    }
    menu->addActions({a.alignLeft, a.alignCentre, a.alignRight});
    menu->addSeparator();
    menu->addActions({a.outline, a.shadow, a.plate});
    if (onBox) {
        menu->addSeparator();
        entry(PushButton3->text(), QKeySequence(Qt::CTRL | Qt::Key_Return), true,
              [this] { PushButton3->click(); });
        entry(PushButton8->text(), QKeySequence(Qt::Key_Escape), true,
              [this] { PushButton8->click(); });
    }
    return menu;
}

namespace {

// Asks for an effect's colour and amount, proposing those in force; on OK they become the
// effect's and the box shows it.
void ChooseEffect(Form1 &form, const char *procedure, EffectChoice choice, QColor &colour,
                  int &amount) {
    Steps s(form, procedure);
    bool chosen = false;
    s(100, [&] { chosen = form.services().effectDialog(&form, choice); });
    if (chosen) {
        s(102, [&] {
            colour = choice.colour;
            amount = qBound(choice.minimum, choice.amount, choice.maximum);
        });
        s(104, [&] { form.ShowCaptionLook(); });
    }
}

} // namespace

// Alignment, like the font and the colour, belongs to both boxes and to the whole text.
void Form1::AlignText(Qt::Alignment alignment) {
    Steps s(*this, "AlignText");
    s(100, [&] { Text1->setTextAlignment(alignment); });
    s(102, [&] { RichTextBox1->setTextAlignment(alignment); });
    s(104, [&] { ShowCaptionLook(); });
}

void Form1::ChooseOutline() {
    CaptionEffects &e = editing.effects;
    ChooseEffect(*this, "ChooseOutline",
                 {tr("Outline"), tr("&Width:"), tr("pixels"), e.outlineColour,
                  e.outlineWidth > 0 ? e.outlineWidth : 2, 0, 20},
                 e.outlineColour, e.outlineWidth);
}

void Form1::ToggleShadow() {
    Steps s(*this, "ToggleShadow");
    s(100, [&] { editing.effects.shadow = !editing.effects.shadow; });
    s(102, [&] { ShowCaptionLook(); });
}

void Form1::ChoosePlate() {
    CaptionEffects &e = editing.effects;
    ChooseEffect(*this, "ChoosePlate",
                 {tr("Background Plate"), tr("&Opacity:"), QStringLiteral("%"), e.plateColour,
                  e.plateOpacity > 0 ? e.plateOpacity : 50, 0, 100},
                 e.plateColour, e.plateOpacity);
}
