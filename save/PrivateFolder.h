#pragma once

#include <QString>

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
    // Throws RuntimeError unless the folder made last still stands at its name as made (the one
    // this program holds open and locked, ours, closed to others) and the program in it at
    // `program` is a plain file, not a link: checked right before the program is run.
    void checkBeforeRunning(const QString &program) const;

    // Removes the folders in temp of programs that ended without removing theirs (killed): only
    // folders of ours, by their name, that no running program holds locked.
    static void removeAbandoned(const QString &temp);

private:
    bool stillOurs() const;
    void release();

    QString temp_;
    QString path_;
    int lock_ = -1;
};
