// The file-system steps of a release's commit and of its recovery, behind one seam: a test can
// stop the work after any step, or make one fail, and see that the installation is still whole.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "framework/File.h"

class IReleaseSteps {
public:
    virtual ~IReleaseSteps() = default;
    /// Creates the journal at `path` with `text` and flushes it to the disk.
    virtual DWORD WriteJournal(const std::string& path, const std::string& text) = 0;
    /// Appends `line` to the journal at `path` and flushes it.
    virtual DWORD AppendJournal(const std::string& path, const char* line) = 0;
    /// Writes what the system still holds of every open file of `files` to the disk.
    virtual DWORD FlushAll(const std::vector<kvo::CFile*>& files) = 0;
    /// Moves `from` to `to` (on the same volume, its folder there), replacing what is there, the
    /// move flushed.
    virtual DWORD Move(const std::string& from, const std::string& to) = 0;
    /// Renames the open `file` through its handle to `to`, where nothing is (its folder there).
    virtual DWORD Rename(kvo::CFile& file, const std::string& to) = 0;
    /// Records `version` as the installed one, flushed to the disk.
    virtual DWORD WriteVersion(const std::string& moduleDir, unsigned version) = 0;
};

/// The steps on the real file system.
IReleaseSteps& FileSystemSteps();
