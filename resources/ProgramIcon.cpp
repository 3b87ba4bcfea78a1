#include "resources/ProgramIcon.h"

#include <QFile>

// The resource lives in a static library: register it explicitly before the first use.
// Q_INIT_RESOURCE must be called outside any namespace; the name is the one given to
// qt_add_resources in resources.cmake.
static void initIconResource() {
    Q_INIT_RESOURCE(icons);
}

QIcon LoadProgramIcon() {
    initIconResource();
    const QString path = QStringLiteral(":/icons/glyphtack.png");
    QIcon icon;
    if (QFile::exists(path))
        icon.addFile(path);
    return icon;
}
