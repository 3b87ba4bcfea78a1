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

private:
    bool stillOurs() const;
    void release();

    QString temp_;
    QString path_;
    int lock_ = -1;
};
