#include "platform/FileDialog.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>

FileDialog::FileDialog(QWidget *parent, const QString &title, QFileDialog::AcceptMode mode)
    : QFileDialog(parent, title) {
    // The details are the brackets qtFilter() adds; the description keeps its own.
    setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
               (mode == QFileDialog::AcceptSave ? QFileDialog::DontConfirmOverwrite
                                                : QFileDialog::Options()));
    setAcceptMode(mode);
    setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // Names match the patterns whatever their case.
    setFilter(filter() & ~QDir::CaseSensitive);
}

QString FileDialog::qtFilter(const QString &entry) {
    const qsizetype bar = entry.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        return entry;
    }
    const QStringList patterns = entry.mid(bar + 1)
                                     .split(QLatin1Char(';'), Qt::SkipEmptyParts)
                                     .replaceInStrings(QStringLiteral(" "), QString());
    return entry.left(bar) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

QStringList FileDialog::entriesOf(const QString &filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        entries << (i + 1 < parts.size() ? parts.at(i) + QLatin1Char('|') + parts.at(i + 1)
                                         : parts.at(i));
    }
    return entries;
}

void FileDialog::setFilterEntries(const QStringList &entries) {
    qtFilters_.clear();
    descriptions_.clear();
    for (const QString &entry : entries) {
        qtFilters_ << qtFilter(entry);
        descriptions_ << entry.section(QLatin1Char('|'), 0, 0).simplified();
    }
    setNameFilters(qtFilters_);
}

int FileDialog::chosenEntry() const {
    // Qt names the chosen entry by what the list shows.
    const QString chosen = selectedNameFilter();
    for (qsizetype i = 0; i < qtFilters_.size(); ++i) {
        if (chosen == qtFilters_.at(i) || chosen == descriptions_.at(i)) {
            return int(i) + 1;
        }
    }
    return 0;
}

QString FileDialog::chosenFile() const {
    if (!typed_.isEmpty()) {
        return typed_;
    }
    const QStringList files = selectedFiles();
    return files.isEmpty() ? QString() : files.constFirst();
}

void FileDialog::accept() {
    typed_.clear();
    auto *nameField = findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    const QString text = nameField != nullptr ? nameField->text() : QString();
    if (!text.contains(QLatin1Char('"'))) {
        QFileDialog::accept();
        return;
    }
    const QString path = QDir::cleanPath(directory().absoluteFilePath(text));
    const QFileInfo info(path);
    if (info.isDir()) {
        // A folder of that name is opened, as the dialog does with any folder name, with nothing
        // chosen in it yet.
        setDirectory(path);
        nameField->clear();
        if (auto *list = findChild<QAbstractItemView *>(QStringLiteral("listView"))) {
            list->clearSelection();
        }
        return;
    }
    if (fileMode() == QFileDialog::ExistingFile && !info.isFile()) {
        return;
    }
    typed_ = path;
    QDialog::accept();
}
