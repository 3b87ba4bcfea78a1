#pragma once

#include <QByteArray>
#include <QString>
#include <filesystem>

// File names as the system keeps them: on Unix any bytes but '/' and NUL, not always UTF-8 (a
// name made on an older system in Latin-1 or GBK, say). A name is carried as a
// std::filesystem::path, which holds those very bytes, from where it enters (the command line, a
// list of files) to the file written under it; it becomes text only where a person reads it.

// The path named by a command-line argument or a line of a list, as its bytes.
std::filesystem::path PathFromBytes(const QByteArray &bytes);
// The path's own bytes (UTF-8 on Windows).
QByteArray PathBytes(const std::filesystem::path &path);
// The path as text for a person; bytes that are not text show as U+FFFD.
QString ShownName(const std::filesystem::path &path);
// The path as Qt's file functions take it; empty text when they cannot carry its bytes.
QString QtName(const std::filesystem::path &path);

// What stands at a name, through its links.
struct NameStatus {
    bool exists = false; // something stands at the end of any links
    bool isLink = false; // the name itself is a symbolic link (maybe to nothing)
    bool isFile = false; // a plain file, at the end of any links
    bool isDir = false;  // a folder, at the end of any links
    qint64 size = 0;
};
NameStatus StatusOf(const std::filesystem::path &name);
// Where the link at the name points.
std::filesystem::path LinkTarget(const std::filesystem::path &name);
// True when both names lead to one file (after links).
bool SameFile(const std::filesystem::path &a, const std::filesystem::path &b);

// A name the program's Qt file functions can open, for as long as this object lives: the name
// itself, or for a name Qt cannot carry a name of an open handle on that file (/proc/self/fd/N).
// `path()` is empty when such a file cannot be opened.
class OpenableName {
public:
    explicit OpenableName(const std::filesystem::path &name);
    ~OpenableName();
    OpenableName(const OpenableName &) = delete;
    OpenableName &operator=(const OpenableName &) = delete;
    QString path() const { return path_; }

private:
    int fd_ = -1;
    QString path_;
};
