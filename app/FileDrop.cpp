#include "app/FileDrop.h"

#include "app/Form1.h"

#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

bool isPictureName(const QString &path) {
    // The name endings of both entries of the open dialog's filter.
    static const QStringList types = {
        QStringLiteral("bmp"),  QStringLiteral("jpg"),  QStringLiteral("gif"),
        QStringLiteral("ico"),  QStringLiteral("wmf"),  QStringLiteral("png"),
        QStringLiteral("jpeg"), QStringLiteral("jpe"),  QStringLiteral("jfif"),
        QStringLiteral("tif"),  QStringLiteral("tiff"), QStringLiteral("webp"),
        QStringLiteral("heic"), QStringLiteral("heif"), QStringLiteral("hif"),
        QStringLiteral("avif"), QStringLiteral("jxl")};
    return types.contains(QFileInfo(path).suffix().toLower());
}

// Takes drags of picture files on the window, and on the open editing box (which would otherwise
// insert the file's address as text); any other drag on the box is the box's own.
class FileDropTarget : public QObject {
public:
    explicit FileDropTarget(Form1 &form) : QObject(&form), form_(form) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
            return QObject::eventFilter(watched, event);
        }
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = DroppedPicture(drop->mimeData());
        if (path.isEmpty() || form_.saving.busy) {
            if (watched == &form_) {
                drop->ignore();
                return true;
            }
            return false;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        if (type == QEvent::Drop) {
            // Loaded once the drop has been answered, so a report shown by the load does not
            // keep the file manager waiting on the drop.
            QTimer::singleShot(0, &form_, [form = &form_, path] { form->LoadDroppedFile(path); });
        }
        return true;
    }

private:
    Form1 &form_;
};

} // namespace

QString DroppedPicture(const QMimeData *data) {
    if (data == nullptr || !data->hasUrls()) {
        return QString();
    }
    const QList<QUrl> urls = data->urls();
    for (const QUrl &url : urls) {
        if (!url.isLocalFile()) {
            continue;
        }
        const QString path = url.toLocalFile();
        if (isPictureName(path) && QFileInfo(path).isFile()) {
            return path;
        }
    }
    return QString();
}

void Form1::setUpFileDrop() {
    setAcceptDrops(true);
    auto *target = new FileDropTarget(*this);
    installEventFilter(target);
    Text1->viewport()->installEventFilter(target);
}

void Form1::LoadDroppedFile(const QString &path) {
    // The open dialog answers with the dropped file instead of asking, this once.
    CommonDialog1->AnswerNextOpen(path);
    PushButton1_Click();
    CommonDialog1->AnswerNextOpen(std::nullopt);
}
