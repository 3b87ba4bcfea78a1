#pragma once

#include <QByteArray>
#include <QString>

// File names as a Unix system keeps them: any bytes but '/' and NUL, not always UTF-8 (a name
// made on an older system in Latin-1, say). Such a name travels through the program as text in
// which each byte that is not part of a valid UTF-8 sequence stands as the lone code unit
// U+DC00 plus the byte; FileNameBytes gives the very bytes back. Names that are valid UTF-8 (all
// names on Windows) are plain text and pass through Qt's own file functions as they are.

// The name's text, foreign bytes kept as lone code units.
QString FileNameFromBytes(const QByteArray &bytes);
// The bytes of a name made by FileNameFromBytes (UTF-8 for any other text).
QByteArray FileNameBytes(const QString &name);
// True when the name holds bytes that Qt's own file functions cannot pass on.
bool HasForeignBytes(const QString &name);

// What stands at a name, read with its bytes: for names with foreign bytes, where QFileInfo
// would look at another name.
struct NameStatus {
    bool exists = false; // something stands at the end of any links
    bool isLink = false; // the name itself is a symbolic link (maybe to nothing)
    bool isFile = false; // a plain file, at the end of any links
    bool isDir = false;  // a folder, at the end of any links
    qint64 size = 0;
};
NameStatus StatusOf(const QString &name);
// Where the link at the name points.
QString LinkTarget(const QString &name);
// True when both names lead to one file (after links).
bool SameFile(const QString &a, const QString &b);

// A name the program's own file functions can open, for as long as this object lives: the name
// itself, or for a name with foreign bytes a name of an open handle on that file
// (/proc/self/fd/N). `path()` is empty when such a file cannot be opened.
class OpenableName {
public:
    explicit OpenableName(const QString &name);
    ~OpenableName();
    OpenableName(const OpenableName &) = delete;
    OpenableName &operator=(const OpenableName &) = delete;
    QString path() const { return path_; }

private:
    int fd_ = -1;
    QString path_;
};
