// The one step that takes a checked file towards its target: a temporary file, written and
// checked in full through one handle, is handed to the commit. Plain files, the entries of
// packages and the launcher's own file all go through it, so whatever must guard a release's
// files has one place to stand.
#pragma once
#include <windows.h>

#include <string>

#include "framework/File.h"
#include "support/ReplaceFile.h"

/// No attributes to give a committed file: it keeps those of a new file.
inline constexpr int kNoAttributeWord = -1;

class IFileCommit {
public:
    enum class Kind {
        file,          ///< a file of the manifest
        packageEntry,  ///< a file unpacked from a package
        launcher,      ///< the running launcher's own file
    };

    virtual ~IFileCommit() = default;
    /// Where the temporary file of `target` is written: ERROR_SUCCESS with `tempPath` set, or why
    /// nothing may be written for it.
    virtual DWORD TempPathFor(const std::string& target, std::string& tempPath) = 0;
    /// Takes `staged` (complete, checked, still open) towards its target; the target then gets the
    /// attribute word `attributeWord` (or kNoAttributeWord). False, with `error` filled, when it
    /// could not be taken: the target is then as it was.
    virtual bool Commit(CTempFileBeside& staged, Kind kind, int attributeWord, kvo::CFileException& error) = 0;
};

/// The commit in place: the temporary file beside its target (its folder made), moved over the
/// target at once; the launcher through its two renames (SelfUpdate). Tools and tests use it.
IFileCommit& CommitInPlace();
