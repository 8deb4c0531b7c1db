// Which parts of a release become plain files and which become packages, and whether the
// launcher will accept every name.
#pragma once
#include <string>
#include <vector>

#include "tools/publish/PublishOptions.h"
#include "tools/publish/ReleaseTree.h"

/// One folder published as a ZIP package.
struct PackagePlan {
    ReleaseItem folder;                ///< the folder below the release
    std::vector<ReleaseItem> members;  ///< its files and folders, at any depth, in tree order

    /// The manifest's FileName of the package: the folder's path + ".zip".
    std::string FileName() const;
    /// The entry name of `member` inside the package: relative to the package's own directory
    /// (the launcher unpacks a package beside itself), "/"-separated, "/" after a folder.
    std::string EntryName(const ReleaseItem& member) const;
};

/// The outcome of sorting a release.
struct PublishPlan {
    std::vector<ReleaseItem> files;     ///< published one by one
    std::vector<PackagePlan> packages;
    std::vector<std::string> notes;     ///< things the operator should know; nothing is wrong
    std::vector<std::string> errors;    ///< each a reason not to publish, naming what it is about
};

/// Why the launcher would not install a file at `components` below its installation folder
/// `installDir` (ending in "\"), or "" when it would: the name is not a safe relative path
/// (absolute, a drive, "..", a device, a control character), holds a character Windows does
/// not allow in names, has a name ending in "." or " ", or does not fit the 260-byte path
/// buffers once joined, counting the suffix of the temporary file the launcher writes first.
std::string CheckPublishedName(const std::vector<std::string>& components, const std::string& installDir);

/// Sorts `tree` (from ScanReleaseTree) by the options' packages and exclusions and checks it.
PublishPlan PlanRelease(const std::vector<ReleaseItem>& tree, const PublishOptions& options);
