// Installed entries of a package that no longer match (a file the user edited, or one a disk lost)
// are fetched alone when a package's changed range does not bring them: where each lies is read
// from the package's central directory, whose range and hash the signed manifest lists, and every
// entry fetched must hold exactly the bytes the kept index lists before anything is staged.
#pragma once
#include <windows.h>

#include <cstdint>
#include <set>
#include <string>

#include "update/EntryRoad.h"
#include "update/PackageIndex.h"

class CUpdateEngine;

/// The folder a package's entries are unpacked into (ending in a backslash).
std::string PackageFolder(const EntryRoad& road);

/// Stages anew the entries `missing` of the road's package, each of which `expected` lists with
/// its bytes' hash: the directory fetched by its range, then the entries by single ranges, adjacent
/// ones in one request. `contents` receives what was staged, `fetched` grows by the bytes fetched.
/// ERROR_SUCCESS, or why not (kErrorIndexMismatch when the manifest lists no directory, or an entry
/// is not where the directory says or not the bytes the index lists; a download's failure).
DWORD RepairPackageEntries(CUpdateEngine& engine, const EntryRoad& road, const PackageIndex& expected,
                           const std::set<std::string>& missing, PackageIndex& contents, std::uint32_t& fetched);
