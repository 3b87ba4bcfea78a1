#pragma once

#include <QByteArray>
#include <QString>
#include <utility>

// The converter in the private folder, opened for running: the program is started through this
// open handle on the very file that was checked, so nothing put at its name afterwards runs.
class HeldProgram {
public:
    HeldProgram() = default;
    HeldProgram(int fd, QString path) : fd_(fd), path_(std::move(path)) {}
    ~HeldProgram();
    HeldProgram(HeldProgram &&other) noexcept;
    HeldProgram &operator=(HeldProgram &&) = delete;
    HeldProgram(const HeldProgram &) = delete;
    HeldProgram &operator=(const HeldProgram &) = delete;
    // What to start: the handle's own name where the system has one (/proc/self/fd/N), else the
    // file's path.
    QString path() const { return path_; }
    // The open handle (Unix), or -1.
    int handle() const { return fd_; }

private:
    int fd_ = -1;
    QString path_;
};

// The folder of this running program inside the temporary folder, where the converter copy and
// the intermediate bitmap of a JPG save live: made with owner-only access at the first save that
// needs it, so other users and other copies of the program sharing the temporary folder can
// neither touch nor remove what is in it, and removed with everything in it when the program
// ends. The program holds a lock on it while it runs; a folder whose program was killed is
// removed by the next program that makes one in the same temporary folder.
class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;

    // The folder inside temp: the one made before while it is still ours and temp has not
    // changed, otherwise a new one. Throws RuntimeError when none can be made.
    QString inside(const QString &temp);
    // The folder made last, or empty text.
    QString path() const { return path_; }
    // Writes the converter's bytes into the folder made last (see PlaceConverter) and remembers
    // them, for the check before running.
    void placeConverter(const QByteArray &bytes);
    // The converter placed last, opened through the folder's own handle, right before it runs.
    // Throws RuntimeError unless the folder still stands at its name as made (the one this
    // program holds open and locked, ours, closed to others) and the converter in it is a plain
    // file of ours, not a link, that only we may change, holding exactly the bytes placed.
    HeldProgram converterForRunning() const;

    // Removes the folders in temp of programs that ended without removing theirs (killed): only
    // folders of ours, by their name, that no running program holds locked.
    static void removeAbandoned(const QString &temp);

private:
    bool stillOurs() const;
    void release();

    QString temp_;
    QString path_;
    int lock_ = -1;
    QByteArray converterHash_;
};
