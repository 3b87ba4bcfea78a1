#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

// The open and save dialogs: Qt's own file dialog, with two habits of the system's dialog.
//
// - Filter entries come as "Description|*.a;*.b": the list shows the description exactly as
//   given, and the patterns match names in any case (*.bmp shows CARD.BMP too).
// - The name typed is the name chosen: Qt's dialog reads double quotes in the name field as a
//   list of names ("a" "b"), so `my "best" card` would become `best`; here it stays as typed.
class FileDialog : public QFileDialog {
    Q_OBJECT
public:
    FileDialog(QWidget *parent, const QString &title, QFileDialog::AcceptMode mode);

    // The entries of a filter text that holds them one after the other:
    // "All|*.a;*.b|Other|*.c" is two entries.
    static QStringList entriesOf(const QString &filter);
    // Sets the list from "Description|patterns" entries.
    void setFilterEntries(const QStringList &entries);
    // The 1-based entry the user chose, or 0.
    int chosenEntry() const;
    // The chosen file: the name as typed where it holds a double quote, otherwise Qt's choice.
    QString chosenFile() const;

    // The Qt name filter for an entry: the description, then the patterns in the brackets Qt
    // reads, which the list does not show.
    static QString qtFilter(const QString &entry);

public slots:
    void accept() override;

private:
    QStringList qtFilters_;
    QStringList descriptions_;
    QString typed_;
};
