// Writing a file so that at every instant either the old file or the complete new one stands at
// its name: the new bytes go to a temporary file in the same folder, which is synced to disk,
// given the old file's permissions and renamed over the old one. Shared by the JPG converter and
// the program's own BMP and PNG saves, so that both follow one rule:
//
// - a link to a file is written through: the file at the end of the links is replaced and the
//   links stay; a link to nothing or to a folder is refused, and so is a folder at the name;
// - the temporary file is ".glyphtack-PPPPPPPP-XXXXXXXX.tmp" (32 bytes, so any name the file
//   system accepts can be saved; P the writer's process id, X random, both in hexadecimal),
//   locked from its creation until it has been renamed into place; one left behind by a killed
//   writer is removed by removeLeftovers, which a caller runs once before its writes.
//
// Plain C++ without Qt: failures are thrown as safe::Failure with a short English reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace safe {

enum class Problem {
    Other,
    DiskFull,     // no space left, or over the quota
    IsFolder,     // a folder stands at the name
    NameTooLong,  // the file system does not take a name that long
    NoFolder,     // the folder of the name does not exist
    Denied,       // no permission, or a read-only file system
    DanglingLink, // the name is a link to nothing
    LinkToFolder, // the name is a link to a folder
    Changed,      // what stands at the name is no longer what the user decided on (Decision.h)
};

class Failure : public std::runtime_error {
public:
    Failure(Problem problem, const std::string &reason)
        : std::runtime_error(reason), problem_(problem) {}
    Problem problem() const { return problem_; }

private:
    Problem problem_;
};

// The failure for a system error number met while writing `path`.
Failure failureFor(int error, const std::filesystem::path &path);

// The file a save under `path` writes: path itself when nothing or a file stands there, or the
// file at the end of path's links. Throws Failure for a folder at the name, a link to nothing or
// to a folder, or a name the file system does not take.
std::filesystem::path resolve(const std::filesystem::path &path);

// The name this process gives a temporary file, with a random number (TemporaryNames.cpp).
std::string temporaryName(std::uint32_t number);
// True for the names of our temporary files.
bool isTemporaryName(const std::string &name);

// The process id a temporary file's name carries; 0 for other names.
long temporaryOwner(const std::string &name);

// Removes our temporary files from folder whose writer is gone: the file's lock is free and the
// process its name carries no longer runs. Reads the folder once; never fails.
void removeLeftovers(const std::filesystem::path &folder);

// One replacement of the file at a path, from the moment its temporary file exists until it is
// renamed into place (commit) or removed (destructor).
struct Decision;

// Called with "sync" and then "rename" as a replacement commits, so that a test can see that the
// new file's data reaches the disk before its name does; nothing is called while it is null.
extern void (*commitStepObserver)(const char *step);

// Told each temporary name just before a file is created under it, so that a signal handler
// can remove the file whenever the signal comes (a name it removes too early is simply absent).
using NamingHook = void (*)(const char *temporary);

class Replacement {
public:
    // Resolves path and creates the temporary file in the target's folder (leftovers there are
    // the caller's to remove, once: see removeLeftovers). With a decision, what stands at path
    // must still be what was decided, here and again at the commit (Failure with
    // Problem::Changed otherwise); a decision that nothing stands there places the new file
    // without replacing anything that appeared meanwhile.
    explicit Replacement(const std::filesystem::path &path, const Decision *decided = nullptr,
                         NamingHook naming = nullptr);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    const std::filesystem::path &target() const { return target_; }
    const std::filesystem::path &temporary() const { return temporary_; }

    // Appends bytes to the temporary file; false when they could not all be written (why is
    // kept for throwFailure).
    bool write(const void *data, std::size_t size);
    // Writes bytes over some already appended, at `offset` from the file's start; false as
    // above (also when they would reach past what was appended).
    bool writeAt(std::uint64_t offset, const void *data, std::size_t size);
    // Throws the failure of the last write that went wrong.
    [[noreturn]] void throwFailure() const;
    // Syncs the new file to disk, gives it the old file's permissions (and owner, where allowed)
    // and renames it over the target, holding its lock until the rename is done. Throws Failure;
    // the temporary file is then removed.
    void commit();

private:
    void discard() noexcept;
    // Writes all the bytes where the file stands; false with the error kept.
    bool put(const char *bytes, std::size_t size);

    // Puts the temporary file at the target's name, failing if a file stands there now.
    void placeWithoutReplacing();

    std::filesystem::path named_;
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    const Decision *decided_ = nullptr;
    int fd_ = -1;
    int error_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t flushed_ = 0;
};

} // namespace safe
