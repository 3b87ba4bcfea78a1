#include "save/SaveWork.h"

#include "app/Form1.h"
#include "resources/Layout.h"

#include <QEventLoop>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <exception>
#include <memory>

namespace {

// The sign appears once a save has run this long.
constexpr int SignDelayMs = 500;

} // namespace

void RunWhileResponsive(const std::function<void()> &work) {
    std::exception_ptr failure;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void WaitResponsive(QProcess &process, int milliseconds) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::stateChanged, &loop, &QEventLoop::quit);
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

SavingSign::SavingSign(Form1 &form) : form_(form), timer_(new QTimer(&form)) {
    timer_->setSingleShot(true);
    QObject::connect(timer_, &QTimer::timeout, &form, [&form] { form.showSaving(true); });
    timer_->start(SignDelayMs);
}

SavingSign::~SavingSign() {
    delete timer_;
    form_.showSaving(false);
}

// A bar that keeps moving over the Save button while the save works: the button cannot be
// clicked meanwhile, and the bar shows the window has not stopped.
void Form1::showSaving(bool shown) {
    if (savingBar_ == nullptr) {
        if (!shown) {
            return;
        }
        savingBar_ = new QProgressBar(this);
        savingBar_->setObjectName(QStringLiteral("SavingBar"));
        savingBar_->setGeometry(Layout::PushButton4.pixels());
        savingBar_->setRange(0, 0);
        savingBar_->setTextVisible(false);
        savingBar_->setToolTip(QStringLiteral("Saving the picture..."));
    }
    savingBar_->setVisible(shown);
    if (shown) {
        savingBar_->raise();
    }
}
