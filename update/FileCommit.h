// The one step that replaces an installed file: a staged temporary file beside its target, written
// and checked in full, is made the target. Plain files, the entries of packages and the launcher's
// own file all go through it, so whatever must guard a release's files has one place to stand.
#pragma once
#include "framework/File.h"
#include "support/ReplaceFile.h"

class IFileCommit {
public:
    enum class Kind {
        file,          ///< a file of the manifest
        packageEntry,  ///< a file unpacked from a package
        launcher,      ///< the running launcher's own file
    };

    virtual ~IFileCommit() = default;
    /// Makes `staged` its target. False, with `error` filled, when the target could not be
    /// replaced: the target is then as it was.
    virtual bool Commit(CTempFileBeside& staged, Kind kind, kvo::CFileException& error) = 0;
};

/// The commit in place: at once, the launcher through its two renames (SelfUpdate).
IFileCommit& CommitInPlace();
