#include "BoxStamp.h"

#include <QDir>
#include <QPushButton>
#include <QScrollBar>
#include <cmath>

QString TexturedPicture(QSize size) {
    const QString path =
        QDir(TestDataFolder())
            .filePath(QStringLiteral("textured-%1x%2.bmp").arg(size.width()).arg(size.height()));
    if (!QFile::exists(path)) {
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y) {
            for (int x = 0; x < size.width(); ++x) {
                const int check = ((x / 3 + y / 2) % 2) * 24;
                image.setPixel(x, y,
                               qRgb(90 + (x * 120) / size.width() + check,
                                    150 + (y * 80) / size.height(), 200 - check));
            }
        }
        image.save(path, "BMP");
    }
    return path;
}

QImage RenderWidget(QWidget *widget, bool children) {
    QImage image(widget->size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    widget->render(&image, QPoint(), QRegion(),
                   children ? QWidget::DrawChildren : QWidget::RenderFlags());
    return image;
}

Session::Session(FormFixture &f, QSize picture) : f_(f) {
    f.loadPicture(TexturedPicture(picture));
    f->show();
    QApplication::setActiveWindow(f.form.get());
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
}

void Session::colour(const QColor &colour) {
    f_.services.colorAnswers << colour;
    QTest::mouseClick(f_->PushButton2, Qt::LeftButton);
}

void Session::fontSize(float points) {
    f_.services.fontAnswerer = [points](FontChoice proposal) {
        proposal.size = points;
        return std::optional<FontChoice>(proposal);
    };
    QTest::mouseClick(f_->PushButton5, Qt::LeftButton);
    f_.services.fontAnswerer = nullptr;
}

void Session::zoom(int steps) {
    for (int i = 0; i < qAbs(steps); ++i) {
        QTest::mouseClick(steps < 0 ? f_->PushButton11 : f_->PushButton10, Qt::LeftButton);
    }
}

void Session::open(QPoint at) {
    QTest::mouseMove(f_->Picture1, at);
    QTest::mouseClick(f_->Picture1, Qt::LeftButton, Qt::NoModifier, at);
    QVERIFY(!f_->Text1->isHidden());
    QTRY_VERIFY(f_->Text1->hasFocus());
}

void Session::type(const QStringList &lines) {
    QTest::keyClick(f_->Text1, Qt::Key_A, Qt::ControlModifier);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            QTest::keyClick(f_->Text1, Qt::Key_Return);
        }
        QTest::keyClicks(f_->Text1, lines[i]);
    }
}

QImage Session::picture() const {
    return RenderWidget(f_->Picture1, false);
}

QImage Session::shown() {
    QList<QWidget *> chrome;
    for (QWidget *w : {f_->Text1->sizingFrame(), f_->Text1->moveGrip()}) {
        if (w != nullptr && !w->isHidden()) {
            chrome << w;
            w->hide();
        }
    }
    caret_ = QRect();
    if (f_->Text1->hasFocus()) {
        caret_ = f_->Text1->cursorRect().translated(f_->Text1->pos()).adjusted(-1, -1, 1, 1);
    }
    const QImage image = RenderWidget(f_->Picture1, true);
    for (QWidget *w : chrome) {
        w->show();
    }
    return image;
}

Stamped Session::stamp(const std::function<void()> &how) {
    Stamped r;
    const QImage plain = picture();
    r.shown = shown();
    if (how) {
        how();
    } else {
        QTest::mouseClick(f_->PushButton3, Qt::LeftButton);
    }
    r.stamped = RenderWidget(f_->Picture1, true);
    QTest::qVerify(f_->Text1->isHidden(), "f->Text1->isHidden()", "the box is closed", __FILE__,
                   __LINE__);
    if (r.stamped.size() != r.shown.size() || plain.size() != r.shown.size()) {
        QTest::qFail("the picture changed size", __FILE__, __LINE__);
        return r;
    }
    for (int y = 0; y < r.stamped.height(); ++y) {
        for (int x = 0; x < r.stamped.width(); ++x) {
            const QRgb s = r.stamped.pixel(x, y);
            const QRgb p = plain.pixel(x, y);
            if (s != p) {
                ++r.ink;
                r.reddish += qRed(s) > 200 && qGreen(s) < 90 && qBlue(s) < 90;
            }
            if (caret_.contains(x, y)) {
                continue;
            }
            const QRgb w = r.shown.pixel(x, y);
            const int d = qMax(qAbs(qRed(s) - qRed(w)),
                               qMax(qAbs(qGreen(s) - qGreen(w)), qAbs(qBlue(s) - qBlue(w))));
            r.differ += d > 0;
            r.worst = qMax(r.worst, d);
        }
    }
    qInfo("stamp: %d pixels changed, %d differ from the box (by at most %d), %d red", r.ink,
          r.differ, r.worst, r.reddish);
    QTest::qCompare(r.differ, 0, "differing pixels", "0", __FILE__, __LINE__);
    QTest::qVerify(r.ink > 100, "r.ink > 100", "the stamp drew the text", __FILE__, __LINE__);
    return r;
}

namespace {

// Differs from the plain picture by more than a faint anti-aliased edge.
bool inked(QRgb a, QRgb b) {
    return qAbs(qRed(a) - qRed(b)) > 48 || qAbs(qGreen(a) - qGreen(b)) > 48 ||
           qAbs(qBlue(a) - qBlue(b)) > 48;
}

bool near(const QImage &mask, int x, int y, int reach) {
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            const int nx = x + dx, ny = y + dy;
            if (nx >= 0 && ny >= 0 && nx < mask.width() && ny < mask.height() &&
                mask.pixelIndex(nx, ny) != 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace

ZoomedStamp Session::stampZoomed(QRgb textColour) {
    ZoomedStamp z;
    const QImage plain = picture();
    const QImage shown = this->shown();
    const QRect caret = caret_;
    QTest::mouseClick(f_->PushButton3, Qt::LeftButton);
    const QImage stamped = RenderWidget(f_->Picture1, true);
    if (stamped.size() != shown.size()) {
        QTest::qFail("the picture changed size", __FILE__, __LINE__);
        return z;
    }
    QImage boxInk(shown.size(), QImage::Format_Indexed8),
        stampInk(shown.size(), QImage::Format_Indexed8);
    boxInk.setColorCount(2);
    stampInk.setColorCount(2);
    boxInk.fill(0);
    stampInk.fill(0);
    double colour = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            const QRgb p = plain.pixel(x, y);
            z.changed += stamped.pixel(x, y) != p;
            z.differ += !caret.contains(x, y) && stamped.pixel(x, y) != shown.pixel(x, y);
            if (!caret.contains(x, y) && inked(shown.pixel(x, y), p)) {
                boxInk.setPixel(x, y, 1);
                ++z.boxInk;
            }
            if (inked(stamped.pixel(x, y), p)) {
                stampInk.setPixel(x, y, 1);
                ++z.stampInk;
            }
            if (!caret.contains(x, y) && shown.pixel(x, y) == textColour) {
                const QRgb s = stamped.pixel(x, y);
                colour += qMax(
                    qAbs(qRed(s) - qRed(textColour)),
                    qMax(qAbs(qGreen(s) - qGreen(textColour)), qAbs(qBlue(s) - qBlue(textColour))));
                ++z.solid;
            }
        }
    }
    // One pixel of the picture: a screen pixel when shrunk, more when enlarged.
    const int reach = qMax(1, int(std::ceil(f_->doc.ZoomFactor)));
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (caret.contains(x, y)) {
                continue;
            }
            z.strays += stampInk.pixelIndex(x, y) != 0 && !near(boxInk, x, y, reach);
            z.missed += boxInk.pixelIndex(x, y) != 0 && !near(stampInk, x, y, reach);
        }
    }
    z.colour = z.solid > 0 ? colour / z.solid : 255.0;
    qInfo("zoom %.2f: box ink %d, stamp ink %d, strays %d, missed %d, solid %d, colour off by "
          "%.1f; %d of %d stamped pixels unlike the box",
          double(f_->doc.ZoomFactor), z.boxInk, z.stampInk, z.strays, z.missed, z.solid, z.colour,
          z.differ, z.changed);
    return z;
}
