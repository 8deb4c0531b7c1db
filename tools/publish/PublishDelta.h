// What lets players fetch less than whole files: patches from the contents of earlier releases
// that players may still have, and, for a package, the byte range of the entries that changed
// since each earlier release, laid out together at the package's end.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "support/Sha256.h"
#include "tools/publish/PublishPlan.h"
#include "tools/publish/ReleaseTree.h"
#include "update/PackageIndex.h"
#include "update/UpdateFileEntry.h"

/// An earlier release folder, as --release took it.
struct PreviousRelease {
    std::string root;
    std::vector<ReleaseItem> items;
};

/// Scans every --previous folder. Raises kvo::CFileException when one cannot be read.
std::vector<PreviousRelease> ScanPreviousReleases(const std::vector<std::string>& folders);

/// The file of `release` that a player of it holds where the new release has `file`: the same
/// name, else, for a file whose name changed with its version, the one in the same folder with the
/// same extension and the longest common start of its name, no longer in the new release
/// (`newNames`, upper-cased); null when there is none.
const ReleaseItem* FindCounterpart(const PreviousRelease& release, const ReleaseItem& file,
                                   const std::set<std::string>& newNames);

/// Where patches are served and kept.
struct PatchPlace {
    std::string baseUrl;    ///< ends in "/"
    std::string outFolder;  ///< ends in "\"
};

/// Patches from each distinct earlier content of `file` (none when no earlier release differs)
/// to its new bytes `digest`, written below `place` and listed in `entry`; returns the bytes
/// written. A patch no smaller than the file is not written.
std::uint64_t AddFilePatches(const ReleaseItem& file, const Sha256Digest& digest,
                             const std::vector<PreviousRelease>& previous, const std::set<std::string>& newNames,
                             const PatchPlace& place, UpdateFileEntry& entry);

/// The order in which a package's members are written when earlier releases are given: folders
/// first, then files unchanged since every earlier release, then files by the newest earlier
/// release they differ from, so that what changed since each earlier release is one range at the
/// end.
struct PackageOrder {
    std::vector<const ReleaseItem*> folders;
    std::vector<const ReleaseItem*> files;
    /// Per file: the newest earlier release (1 the oldest --previous, and so on) whose content of
    /// it differs or who lacks it; 0 for a file that every earlier release holds as it is. The
    /// range since release j holds the files whose number is j or more.
    std::vector<std::size_t> newestDiffering;
    PackageIndex index;                       ///< the new package's index
    std::vector<PackageIndex> previousIndex;  ///< the package as each earlier release had it
};

/// What the package of `package` holds: the launcher keeps it after installing the package, and
/// the manifest lists its hash, so a later release can send only what changed since.
PackageIndex IndexOfPackage(const PackagePlan& package);

PackageOrder OrderPackage(const PackagePlan& package, const std::vector<PreviousRelease>& previous);

/// The central directory's range (in `entry.Directory`) and the Delta elements of a written package: `offsets` holds, per file of `order`, where
/// its local header starts, and `dataEnd` where the last one ends. `packagePath` is read back for
/// the ranges' hashes. A range of more than half the package is not listed (the whole package is
/// as cheap).
void AddPackageDeltas(const PackageOrder& order, const std::vector<std::uint32_t>& offsets, std::uint32_t dataEnd,
                      const std::string& packagePath, std::uint32_t packageLength, UpdateFileEntry& entry);
