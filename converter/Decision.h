// What the user decided to write over when asked, kept so that the write goes to exactly that:
// nothing at the name, or one particular file (its device and inode), the file at the name or at
// the end of its links. A write with a decision refuses, leaving everything as it is, when what
// stands at the name is no longer what was decided (a file appeared, a link was planted or
// turned, the file was swapped for another).
//
// Plain C++ without Qt, shared by the converter (its option -expect) and the program's own saves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace safe {

struct Decision {
    bool absent = true;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    // "absent" or "DEVICE:INODE" in decimal, as the converter's -expect takes it.
    std::string text() const;
    static std::optional<Decision> parse(std::string_view text);
    bool operator==(const Decision &) const = default;
};

// What stands at path now, through its links: absent, or the file at the end. Throws Failure
// for what cannot be written over (a folder, a link to nothing or to a folder).
Decision decide(const std::filesystem::path &path);

// Throws Failure (Problem::Changed) unless what stands at path is still what was decided.
void checkDecision(const std::filesystem::path &path, const Decision &decided);

} // namespace safe
