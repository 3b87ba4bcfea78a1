#include "FuzzQt.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtGlobal>
#include <cstdlib>

namespace {

// Qt prints a warning for nearly every broken input; at a thousand inputs a second that drowns
// the fuzzer's own output and costs most of the time.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message) {
    if (type == QtFatalMsg) {
        fprintf(stderr, "Qt fatal: %s\n", qPrintable(message));
        abort();
    }
}

} // namespace

void StartFuzzApplication(int * /*argc*/, char ***argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quietHandler);
    // Qt takes out the arguments it knows; the fuzzer's own stay untouched.
    static int qtArgc = 1;
    static char *qtArgv[] = {(*argv)[0], nullptr};
    // Never destroyed: the fuzzer leaves by exit() from inside its loop.
    new QGuiApplication(qtArgc, qtArgv);
}

QString FuzzScratchFolder() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/glyphtack-fuzz-XXXXXX"));
    return dir.path();
}
