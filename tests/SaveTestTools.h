// Helpers shared by the tests of "Save As Image File" (test_save_*.cpp): a user session saving
// into folders of the test's choosing, the converter process seen from outside, and running a
// stretch of a test as an ordinary user.
#pragma once

#include "Harness.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <csignal>
#include <functional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace savetest {

// One user with a loaded picture, a temporary folder and an output folder.
struct Session {
    FormFixture f;
    QTemporaryDir tempDir;
    QTemporaryDir outDir;

    explicit Session(const QString &picture = WriteTestPicture("card.jpg", 64, 48, "JPG")) {
        f.services.env["TEMP"] = tempDir.path();
        f.loadPicture(picture);
    }
    QString temp() const { return tempDir.path(); }
    QString out() const { return outDir.path(); }
    QString dest(const QString &name) const { return outDir.filePath(name); }
    // The program's own folder inside TEMP (made at its first save), or empty text.
    QString work() const { return PrivateFolderIn(temp()); }

    // Saves under the typed name with the filter; an overwrite prompt gets `answer`.
    void save(const QString &typed, int filterIndex, MsgAnswer answer = MsgAnswer::Yes) {
        f.services.messageAnswers.clear();
        f.services.messageAnswers << answer;
        f.services.saveAnswers << SaveDialogResult{true, typed, filterIndex};
        f->PushButton4_Click();
        f.services.messageAnswers.clear();
    }
    // The line of each error report so far.
    QStringList reportLines() const {
        QStringList lines;
        for (const MessageRequest &r : f.services.reports()) {
            lines << r.text.section("at line ", 1).left(3);
        }
        return lines;
    }
    // The description (first line) of the error report i.
    QString description(int i = 0) const {
        return f.services.reports().value(i).text.section("\r\n", 0, 0);
    }
    // The overwrite prompts shown so far.
    QStringList prompts() const {
        QStringList texts;
        for (const MessageRequest &m : f.services.messages) {
            if (m.text.startsWith("This folder already contains")) {
                texts << m.text;
            }
        }
        return texts;
    }
    // Nothing of the save is left in TEMP but the program's own empty folder, and the window is
    // idle again.
    bool cleanedUp() const {
        const QStringList inTemp = Entries(temp());
        return (inTemp.isEmpty() || (inTemp.size() == 1 && Entries(work()).isEmpty())) &&
               f.form->MousePointer() == vbDefault && !f.form->saving.busy;
    }
};

inline QString OverwritePrompt(const QString &name) {
    return "This folder already contains a file named " + name +
           "\r\nWould you like to repace the existing file?";
}

// A picture of noise, so that neither its bitmap nor its JPG can be small.
inline QString WriteNoisePicture(int width, int height, const QString &name = "noise.bmp") {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            row[x] = 0xff000000u | (random.generate() & 0xffffffu);
        }
    }
    const QString path = QDir(TestDataFolder()).filePath(name);
    image.save(path, "BMP");
    return path;
}

// The running processes whose program is the file at path (Linux: read from /proc).
inline QList<qint64> ProcessesOf(const QString &path) {
    QList<qint64> found;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number) {
            continue;
        }
        // The program file it runs (it may have been started through a handle on that file).
        if (QFileInfo("/proc/" + entry + "/exe").symLinkTarget() == path) {
            found << pid;
        }
    }
    return found;
}

// The id of a process that has ended (one started and waited for).
inline qint64 EndedProcessId() {
    QProcess process;
    process.start(QStringLiteral("true"), QStringList());
    process.waitForStarted();
    const qint64 pid = process.processId();
    process.waitForFinished();
    return pid;
}

// The name a writer's temporary file has: the writer's process id and a number, in hexadecimal.
inline QString TemporaryName(qint64 pid, quint32 number) {
    return QString::asprintf(".glyphtack-%08llx-%08x.tmp", static_cast<unsigned long long>(pid),
                             number);
}

// An open file holding an exclusive lock, as a program writing it would (Linux).
class LockedFile {
public:
    explicit LockedFile(const QString &path);
    ~LockedFile();
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;
    bool locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

// Runs a stretch of a test as the unprivileged user "nobody" when the test runs as root, so
// that file permissions apply (root passes them all); otherwise changes nothing.
class AsOrdinaryUser {
public:
    AsOrdinaryUser();
    ~AsOrdinaryUser();
    AsOrdinaryUser(const AsOrdinaryUser &) = delete;
    AsOrdinaryUser &operator=(const AsOrdinaryUser &) = delete;
    // Gives a file or folder to the user the stretch runs as.
    static bool give(const QString &path);
    bool switched() const { return switched_; }

private:
    bool switched_ = false;
};

inline LockedFile::LockedFile(const QString &path) {
    fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    locked_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

inline LockedFile::~LockedFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

constexpr uid_t NobodyId = 65534;

inline AsOrdinaryUser::AsOrdinaryUser() {
    if (::geteuid() == 0) {
        switched_ = ::setegid(NobodyId) == 0 && ::seteuid(NobodyId) == 0;
    }
}

inline AsOrdinaryUser::~AsOrdinaryUser() {
    if (switched_) {
        [[maybe_unused]] const int user = ::seteuid(0);
        [[maybe_unused]] const int group = ::setegid(0);
    }
}

inline bool AsOrdinaryUser::give(const QString &path) {
    return ::geteuid() != 0 ||
           ::chown(QFile::encodeName(path).constData(), NobodyId, NobodyId) == 0;
}

} // namespace savetest
