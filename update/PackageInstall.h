// Unpacking a downloaded ZIP package over the installation.
#pragma once
#include <string>

#include "update/FileCommit.h"
#include "update/PackageIndex.h"

/// Unpacks every entry of the package at `packagePath` into the directory that holds the
/// package; directory entries create nothing, the commit makes what the files need. Every
/// name is checked first (IsSafeRelativePath): one that could leave that directory refuses the
/// whole package before anything is written. Each file is written beside its target and moved
/// over it only when it has its declared size and its CRC matched, then stamped with the
/// entry's time and attributes; a failing entry leaves the previous file as it was and ends the
/// installation with false (entries installed before it stay installed). True when every entry
/// was installed and the archive closed without error. A package whose entries' declared sizes
/// add up to more than the volume's free space fails before anything is written. Afterwards,
/// files ending in the temporary suffix that interrupted runs left in the directories the
/// package writes to are removed (the package file itself excepted).
/// Each file is written where `commit` says and goes in place through it.
bool InstallPackage(std::string packagePath, IFileCommit& commit = CommitInPlace());
/// The same; on failure `problem` names the entry and the reason (for the log).
bool InstallPackage(std::string packagePath, std::string& problem, IFileCommit& commit = CommitInPlace());
/// The same for the package open in `package` (readable; its handle is taken over and closed),
/// unpacked under the directory `base` (ending in a backslash) instead of its own; `contents`,
/// when given, receives the SHA-256 of every file entry by its name.
bool InstallPackage(kvo::CFile& package, const std::string& base, std::string& problem, IFileCommit& commit,
                    PackageIndex* contents = nullptr);
/// The same for a run of entries with no central directory (the changed range of a package).
bool InstallPackageRange(kvo::CFile& range, const std::string& base, std::string& problem, IFileCommit& commit,
                         PackageIndex& contents);

/// Creates the directory `path` ("\"-separated) with every missing parent. 1 when the directory
/// exists afterwards, 0 otherwise (also when some component is a file, or the path does not fit
/// the system's path buffers).
int MakeDirectoryPath(const char* path);
