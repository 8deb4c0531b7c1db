// The walk that the fuzzer and the corpus replay run over an archive: open it, visit every
// entry, read every byte, and check what the reader promises on the way.
#pragma once
#include <string>
#include <vector>

struct WalkReport {
    bool opened = false;
    unsigned entriesRead = 0;             ///< entries read to their end
    std::vector<std::string> violations;  ///< broken promises; empty when all held
};

/// Walks the archive at `path` (as a run of local headers without a directory, the changed range
/// of a package, with `localHeadersOnly`). The reader's own exceptions end the walk quietly;
/// anything else leaves this function.
WalkReport WalkArchive(const std::string& path, bool localHeadersOnly = false);

/// True when `joined` starts with `base` and, resolved lexically, never climbs above it.
bool StaysUnder(const std::string& base, const std::string& joined);
