#include "platform/Services.h"

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>

namespace {

// A button that shows a colour and changes it through the colour dialog.
class ColourButton : public QPushButton {
public:
    ColourButton(const QColor &colour, QWidget *parent) : QPushButton(parent), colour_(colour) {
        setText(QObject::tr("&Color..."));
        show(colour_);
        connect(this, &QPushButton::clicked, this, [this] {
            QColorDialog dialog(colour_, this);
            dialog.setOption(QColorDialog::DontUseNativeDialog);
            dialog.setWindowTitle(QObject::tr("Color"));
            if (dialog.exec() == QDialog::Accepted) {
                colour_ = dialog.selectedColor();
                show(colour_);
            }
        });
    }
    QColor colour() const { return colour_; }

private:
    void show(const QColor &colour) {
        QPixmap swatch(16, 16);
        swatch.fill(colour);
        setIcon(QIcon(swatch));
    }

    QColor colour_;
};

} // namespace

bool RealServices::effectDialog(QWidget *parent, EffectChoice &choice) {
    QDialog dialog(parent);
    dialog.setWindowTitle(choice.title);
    auto *form = new QFormLayout(&dialog);
    auto *colour = new ColourButton(choice.colour, &dialog);
    auto *amount = new QSpinBox(&dialog);
    amount->setRange(choice.minimum, choice.maximum);
    amount->setValue(choice.amount);
    amount->setSuffix(QLatin1Char(' ') + choice.unit);
    form->addRow(QObject::tr("Color:"), colour);
    form->addRow(choice.amountLabel, amount);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    amount->setFocus();
    amount->selectAll();
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    choice.colour = colour->colour();
    choice.amount = amount->value();
    return true;
}
