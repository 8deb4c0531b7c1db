// Writing a file apart from its target (beside it, or in a staging area) and putting it in place
// only when it is complete, so that a failed write never leaves a damaged file where a good one was.
#pragma once
#include <cstdint>
#include <string>

#include "framework/File.h"

/// A temporary file next to a target path: target + kSuffix, created anew (a leftover of an
/// interrupted earlier run is overwritten). Commit() moves it over the target in one step; a
/// temporary file not committed is deleted by the destructor, so the target keeps what it had.
class CTempFileBeside {
public:
    static constexpr const char* kSuffix = ".kvotmp";

    /// True when the temporary file of `targetPath` fits the system's 260-byte path buffers, so
    /// that a target can be refused before anything is written for it.
    static bool Fits(const std::string& targetPath) noexcept;

    explicit CTempFileBeside(std::string targetPath);
    /// The temporary file of `targetPath` at `tempPath` instead (on the same volume).
    CTempFileBeside(std::string targetPath, std::string tempPath);
    ~CTempFileBeside();  ///< closes and deletes an uncommitted temporary file; never raises
    CTempFileBeside(const CTempFileBeside&) = delete;
    CTempFileBeside& operator=(const CTempFileBeside&) = delete;

    /// Creates (or truncates) the temporary file for writing and reading back, shared with no one. False, with
    /// `error` filled when given, when it cannot be created or its path would not fit the
    /// system's path buffers.
    bool Open(kvo::CFileException* error = nullptr);

    /// Opens the temporary file to go on writing at its end, keeping what an earlier attempt (or
    /// an interrupted run) left in it; creates it empty when there is none. It is open for reading
    /// too, so the kept bytes can be checked. `kept` receives its length. False, with `error`
    /// filled when given, as Open.
    bool OpenToResume(std::uint64_t& kept, kvo::CFileException* error = nullptr);

    /// Closes the temporary file and leaves it on disk for a later attempt to resume.
    void Keep() noexcept;

    /// Hands the open temporary file to `holder`, which keeps it (open, under its name) from here
    /// on; this object then neither closes nor deletes it.
    void HandOver(kvo::CFile& holder) noexcept;

    /// The open temporary file to write into.
    kvo::CFile& File() noexcept { return m_file; }
    const std::string& Path() const noexcept { return m_strTempPath; }
    const std::string& TargetPath() const noexcept { return m_strTargetPath; }

    /// Moves the temporary file over the target (through its handle while it is still open) and
    /// closes it. False, with `error` filled when given, when the target could not be replaced
    /// (read-only, in use): the target is then untouched and the temporary file is deleted.
    bool Commit(kvo::CFileException* error = nullptr);

private:
    void Discard() noexcept;
    bool PathsFit() const noexcept;

    std::string m_strTargetPath;
    std::string m_strTempPath;
    kvo::CFile m_file;
    bool m_bCreated = false;    ///< the temporary file exists on disk and is ours to delete
};
