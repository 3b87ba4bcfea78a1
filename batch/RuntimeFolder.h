#pragma once

#include <string>

// Qt looks into the user's runtime folder (XDG_RUNTIME_DIR) as it starts. Where that variable is
// unset, as under cron, ssh or a cluster's scheduler, it warns on standard error and makes a
// folder of its own in /tmp that outlives the run. While an object of this class lives, an empty
// folder of ours in the temporary folder stands in for it (TMPDIR, else /tmp); when it goes, the
// folder is removed and the variable unset again. Where the variable is set, nothing changes.
class LentRuntimeFolder {
public:
    LentRuntimeFolder();
    ~LentRuntimeFolder();
    LentRuntimeFolder(const LentRuntimeFolder &) = delete;
    LentRuntimeFolder &operator=(const LentRuntimeFolder &) = delete;

private:
    std::string folder_;
};
