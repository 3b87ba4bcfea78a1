#include "save/Quality.h"

#include "app/ErrorReport.h"
#include "app/Form1.h"
#include "app/SettingsStore.h"
#include "platform/PictureBox.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QRadioButton>
#include <QSlider>
#include <cmath>

qint16 QualityFromRatio(int himetricWidth, int himetricHeight, qint64 fileLength) {
    // HiMetric to pixels on a 96 dots-per-inch screen, in single precision.
    const float w = float(double(himetricWidth) * 96.0 / 2540.0);
    const float h = float(double(himetricHeight) * 96.0 / 2540.0);
    const double numerator = double(h) * double(w) * 3.0;
    if (fileLength == 0) {
        throw RuntimeError(numerator == 0.0 ? "Overflow" : "Division by zero");
    }
    const double r = numerator / double(fileLength);
    const double q = std::nearbyint(101.0 - r);
    if (q <= 0.0) {
        return 1;
    }
    if (q > 100.0) {
        return 100;
    }
    return qint16(q);
}

qint16 DetectJpgQuality(const PictureBox &box, const QString &path) {
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists() || info.isDir()) {
        throw RuntimeError("File not found");
    }
    const QSize himetric = box.hasPicture() ? box.pictureHimetric() : QSize(0, 0);
    return QualityFromRatio(himetric.width(), himetric.height(), info.size());
}

void Form1::setOptionValue(QRadioButton *option, bool value) {
    QRadioButton *other = option == Option21 ? Option22 : Option21;
    if (!value) {
        option->setChecked(false);
        return;
    }
    // Like a click, selecting runs the handler; an option that is already selected stays as it
    // is, so both stored values are read as they were stored.
    if (option->isChecked() && !other->isChecked()) {
        return;
    }
    option->setChecked(true);
    other->setChecked(false);
    if (option == Option21) {
        Option21_Click();
    } else {
        Option22_Click();
    }
}

void Form1::Option21_Click() {
    SettingsStore store(services_);
    store.SaveSetting(QStringLiteral("Option21"), BooleanText(Option21->isChecked()));
    store.SaveSetting(QStringLiteral("Option22"), BooleanText(Option22->isChecked()));
    Frame4->setEnabled(false);
}

void Form1::Option22_Click() {
    SettingsStore store(services_);
    store.SaveSetting(QStringLiteral("Option21"), BooleanText(Option21->isChecked()));
    store.SaveSetting(QStringLiteral("Option22"), BooleanText(Option22->isChecked()));
    Frame4->setEnabled(true);
}

// The quality frame's caption follows the slider as it moves, and the value is kept for the next
// start once it has settled (not at every step of a drag).
void Form1::Slider1_Change() {
    Frame4->setTitle(QString::number(Slider1->value()) + QStringLiteral("%"));
    if (Slider1->isSliderDown()) {
        return;
    }
    SettingsStore store(services_);
    store.SaveSetting(QStringLiteral("Slider1"), QString::number(Slider1->value()));
}

void Form1::PushButton9_Click() {
    Steps s(*this, "PushButton9_Click");
    s(100, [&] {
        QString fixed = Option22->text();
        fixed.remove(QLatin1Char(':'));
        MsgBox(Option21->text() +
                   QStringLiteral(" will automatically detect the image quality of each input JPG "
                                  "file and use this information to create a similar quality "
                                  "output JPG file.") +
                   QStringLiteral("\r\n\r\n") + fixed +
                   QStringLiteral(" will use the same image quality for every output JPG file."),
               MsgButtons::Ok);
    });
}
