#include "batch/RuntimeFolder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef __unix__
#include <sys/stat.h>
#include <unistd.h>
#endif

LentRuntimeFolder::LentRuntimeFolder() {
#ifdef __unix__
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0') {
        return;
    }
    const char *temp = std::getenv("TMPDIR");
    for (const std::string &base :
         {std::string(temp != nullptr ? temp : ""), std::string("/tmp")}) {
        struct stat info {};
        if (base.empty() || ::stat(base.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            continue;
        }
        // Made with owner-only access, as a runtime folder must be.
        std::string name = base + "/glyphtack-runtime-XXXXXX";
        if (::mkdtemp(name.data()) != nullptr) {
            if (::setenv("XDG_RUNTIME_DIR", name.c_str(), 1) == 0) {
                folder_ = name;
            } else {
                ::rmdir(name.c_str());
            }
            return;
        }
    }
#endif
}

LentRuntimeFolder::~LentRuntimeFolder() {
#ifdef __unix__
    if (!folder_.empty()) {
        ::unsetenv("XDG_RUNTIME_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
#endif
}
