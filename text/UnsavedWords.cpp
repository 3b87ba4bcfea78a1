#include "text/UnsavedWords.h"

#include <QFileInfo>
#include <QStringList>

namespace {

// "a", "a and b", "a, b and c".
QString Listed(const QStringList &items) {
    if (items.size() <= 1) {
        return items.value(0);
    }
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
           items.last();
}

} // namespace

QString PictureName(const QString &path) {
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? QStringLiteral("the picture") : name;
}

QString UnsavedEarlierText(const QList<UnsavedPicture> &pictures) {
    QStringList names;
    QStringList steps;
    for (const UnsavedPicture &p : pictures) {
        names << PictureName(p.path);
        steps << QString::number(p.stepsBack);
    }
    const bool one = pictures.size() == 1;
    const bool oneStep = one && pictures.first().stepsBack == 1;
    return QStringLiteral("The text stamped into ") + Listed(names) +
           QStringLiteral(" has not been saved: ") +
           (one ? QStringLiteral("another picture was loaded over it, and Undo Stamp brings it "
                                 "back in ")
                : QStringLiteral("other pictures were loaded over them, and Undo Stamp brings "
                                 "them back in ")) +
           Listed(steps) + (oneStep ? QStringLiteral(" step") : QStringLiteral(" steps"));
}

QString ItOrThem(const QList<UnsavedPicture> &pictures) {
    return pictures.size() == 1 ? QStringLiteral("it") : QStringLiteral("them");
}
