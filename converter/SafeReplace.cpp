#include "SafeReplace.h"

#include "Decision.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace safe {

namespace {

// Written data is handed to the disk in steps of this size while the rest is still being made,
// so that the sync at the end has little left to wait for.
constexpr std::uint64_t kWritebackStep = std::uint64_t{1} << 20;

std::string describe(const fs::path &path) {
    return path.string();
}

#ifndef _WIN32
// The permissions a newly created file gets: 0666 less the process's umask. Read from /proc
// where possible, since setting the umask to learn it is not safe while other threads create
// files.
mode_t newFileMode() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return mode_t(0666 & ~std::stoul(line.substr(6), nullptr, 8));
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mode_t(0666 & ~mask);
}
#endif

} // namespace

void (*commitStepObserver)(const char *step) = nullptr;

namespace {

void observe(const char *step) {
    if (commitStepObserver != nullptr)
        commitStepObserver(step);
}

} // namespace

Failure failureFor(int error, const fs::path &path) {
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return Failure(Problem::DiskFull, "not enough space on the disk for " + describe(path));
    case EISDIR:
        return Failure(Problem::IsFolder, describe(path) + " is a folder");
    case ENAMETOOLONG:
        return Failure(Problem::NameTooLong,
                       "the name " + path.filename().string() + " is too long");
    case ENOENT:
    case ENOTDIR:
        return Failure(Problem::NoFolder,
                       "the folder " + path.parent_path().string() + " does not exist");
    case EROFS:
        return Failure(Problem::Denied, "the disk of " + describe(path) + " is read-only");
    case EACCES:
    case EPERM:
        return Failure(Problem::Denied, "no permission to write " + describe(path));
    default:
        return Failure(Problem::Other,
                       "cannot write " + describe(path) + ": " + std::strerror(error));
    }
}

fs::path resolve(const fs::path &path) {
    if (!path.has_filename())
        throw Failure(Problem::Other, describe(path) + " names no file");
#ifdef _WIN32
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (fs::is_symlink(status)) {
        const fs::file_status followed = fs::status(path, ec);
        if (!fs::exists(followed))
            throw Failure(Problem::DanglingLink, describe(path) + " is a link to nothing");
        if (fs::is_directory(followed))
            throw Failure(Problem::LinkToFolder, describe(path) + " is a link to a folder");
        return fs::canonical(path);
    }
    if (fs::is_directory(status))
        throw Failure(Problem::IsFolder, describe(path) + " is a folder");
    return path;
#else
    struct stat own {};
    if (lstat(path.c_str(), &own) != 0) {
        if (errno == ENOENT)
            return path; // nothing there yet; a missing folder shows when the file is made
        throw failureFor(errno, path);
    }
    if (S_ISDIR(own.st_mode))
        throw Failure(Problem::IsFolder, describe(path) + " is a folder");
    if (!S_ISLNK(own.st_mode)) {
        if (!S_ISREG(own.st_mode))
            throw Failure(Problem::Other, describe(path) + " is not a file");
        return path;
    }
    struct stat end {};
    if (stat(path.c_str(), &end) != 0)
        throw Failure(Problem::DanglingLink, describe(path) + " is a link to nothing");
    if (S_ISDIR(end.st_mode))
        throw Failure(Problem::LinkToFolder, describe(path) + " is a link to a folder");
    if (!S_ISREG(end.st_mode))
        throw Failure(Problem::Other, describe(path) + " is a link to something not a file");
    std::error_code ec;
    fs::path target = fs::canonical(path, ec);
    if (ec)
        throw failureFor(ec.value(), path);
    return target;
#endif
}

Replacement::Replacement(const fs::path &path, const Decision *decided, NamingHook naming)
    : named_(path), target_(resolve(path)), decided_(decided) {
    if (decided_ != nullptr)
        checkDecision(named_, *decided_);
    const fs::path folder = target_.parent_path();
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary_ = folder / temporaryName(std::uint32_t(random()));
        if (naming != nullptr)
            naming(temporary_.c_str());
#ifdef _WIN32
        fd_ = _wsopen(temporary_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _SH_DENYWR,
                      _S_IREAD | _S_IWRITE);
        if (fd_ >= 0)
            return;
#else
        fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            // Held until the file is renamed or removed: while it is held, and while this
            // process runs, no clean-up takes the file for a leftover. Should the name no longer
            // be this file, another name is tried.
            struct stat opened {};
            struct stat named {};
            if (flock(fd_, LOCK_EX) == 0 && fstat(fd_, &opened) == 0 &&
                lstat(temporary_.c_str(), &named) == 0 && named.st_ino == opened.st_ino &&
                named.st_dev == opened.st_dev)
                return;
            close(fd_);
            fd_ = -1;
            continue;
        }
#endif
        if (errno != EEXIST)
            break;
    }
    const int error = errno;
    temporary_.clear();
    throw failureFor(error == EEXIST ? EACCES : error, target_);
}

Replacement::~Replacement() {
    discard();
}

void Replacement::discard() noexcept {
    if (fd_ >= 0) {
#ifdef _WIN32
        _close(fd_);
#else
        close(fd_);
#endif
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        std::error_code ignored;
        fs::remove(temporary_, ignored);
        temporary_.clear();
    }
}

bool Replacement::put(const char *bytes, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        const int chunk = size > (1u << 30) ? int(1u << 30) : int(size);
        const auto done = _write(fd_, bytes, unsigned(chunk));
#else
        const ssize_t done = ::write(fd_, bytes, size);
#endif
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            error_ = done == 0 ? ENOSPC : errno;
            return false;
        }
        bytes += done;
        size -= std::size_t(done);
    }
    return true;
}

bool Replacement::write(const void *data, std::size_t size) {
    if (!put(static_cast<const char *>(data), size))
        return false;
    written_ += size;
#ifdef __linux__
    if (written_ - flushed_ >= kWritebackStep) {
        sync_file_range(fd_, off64_t(flushed_), off64_t(written_ - flushed_),
                        SYNC_FILE_RANGE_WRITE);
        flushed_ = written_;
    }
#endif
    return true;
}

bool Replacement::writeAt(std::uint64_t offset, const void *data, std::size_t size) {
    if (offset + size > written_) {
        error_ = EINVAL;
        return false;
    }
#ifdef _WIN32
    const auto seek = [&](std::uint64_t to) {
        return _lseeki64(fd_, __int64(to), SEEK_SET) == __int64(to);
    };
#else
    const auto seek = [&](std::uint64_t to) {
        return lseek(fd_, off_t(to), SEEK_SET) == off_t(to);
    };
#endif
    if (!seek(offset)) {
        error_ = errno;
        return false;
    }
    const bool done = put(static_cast<const char *>(data), size);
    // Appending goes on at the end.
    if (!seek(written_)) {
        error_ = errno;
        return false;
    }
    return done;
}

void Replacement::throwFailure() const {
    throw failureFor(error_ != 0 ? error_ : EIO, target_);
}

void Replacement::commit() {
    try {
#ifdef _WIN32
        if (_commit(fd_) != 0)
            throw failureFor(errno, target_);
        _close(fd_);
        fd_ = -1;
        std::error_code ec;
        const fs::perms old = fs::status(target_, ec).permissions();
        if (!ec)
            fs::permissions(temporary_, old, ec);
        if (decided_ != nullptr) {
            checkDecision(named_, *decided_);
            if (decided_->absent) {
                placeWithoutReplacing();
                temporary_.clear();
                return;
            }
        }
        fs::rename(temporary_, target_, ec);
        if (ec)
            throw failureFor(ec.value(), target_);
#else
        // The data must be on disk before the rename makes the new file the only one.
        observe("sync");
        if (fsync(fd_) != 0)
            throw failureFor(errno, target_);
        struct stat old {};
        if (stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
            // The owner first: changing it clears set-id bits that the mode then restores.
            if (old.st_uid != geteuid() || old.st_gid != getegid()) {
                if (fchown(fd_, old.st_uid, old.st_gid) != 0 &&
                    fchown(fd_, uid_t(-1), old.st_gid) != 0) {
                    // Not allowed to give the file away, nor its group: it stays ours.
                }
            }
            fchmod(fd_, old.st_mode & 07777);
        } else {
            fchmod(fd_, newFileMode());
        }
        observe("rename");
        // What the user decided on is checked once more at the last moment; a name decided
        // empty gets the file only while it is still empty, whatever appears in between.
        if (decided_ != nullptr)
            checkDecision(named_, *decided_);
        // The file stays open and locked until its temporary name is gone.
        if (decided_ != nullptr && decided_->absent)
            placeWithoutReplacing();
        else if (rename(temporary_.c_str(), target_.c_str()) != 0)
            throw failureFor(errno, target_);
        temporary_.clear();
        close(fd_); // synced already: nothing is left to fail
        fd_ = -1;
#endif
        temporary_.clear();
    } catch (...) {
        discard();
        throw;
    }
}

void Replacement::placeWithoutReplacing() {
    const auto taken = [this] {
        return Failure(Problem::Changed,
                       "a file appeared at " + named_.string() + " meanwhile; nothing was written");
    };
#ifdef _WIN32
    // MoveFile (under _wrename) never replaces an existing file.
    if (_wrename(temporary_.c_str(), target_.c_str()) != 0) {
        std::error_code ec;
        if (fs::exists(fs::symlink_status(target_, ec)))
            throw taken();
        throw failureFor(errno, target_);
    }
#else
#ifdef SYS_renameat2
    constexpr unsigned kNoReplace = 1; // RENAME_NOREPLACE
    if (syscall(SYS_renameat2, AT_FDCWD, temporary_.c_str(), AT_FDCWD, target_.c_str(),
                kNoReplace) == 0)
        return;
    if (errno == EEXIST)
        throw taken();
    if (errno != EINVAL && errno != ENOSYS)
        throw failureFor(errno, target_);
#endif
    // A file system without the no-replace rename: a second name for the file, made only where
    // none stands, then the temporary name goes.
    if (link(temporary_.c_str(), target_.c_str()) != 0) {
        if (errno == EEXIST)
            throw taken();
        throw failureFor(errno, target_);
    }
    unlink(temporary_.c_str());
#endif
}

} // namespace safe
