// The road of a package through its changed entries only. The launcher keeps the index of what it
// last installed of each package (update/PackageIndex); when the manifest lists the package's
// range of entries changed since that index, only that range is fetched (one request for one
// range), every installed entry outside it is checked against the index, and the entries of the
// range are staged like those of a whole package. The index is trusted only because its hash is
// the one a signed manifest names.
#pragma once
#include <windows.h>

#include "update/EntryRoad.h"
#include "update/PackageIndex.h"

class CUpdateEngine;

/// A range is staged as the package's name with this suffix: a name no entry's file has.
inline constexpr char kRangeStageSuffix[] = ".kvorange";

/// What the changed-range road did.
struct PackageChanges {
    bool tried = false;         ///< the entry and the kept index allow it; false: the whole package, quietly
    DWORD error = ERROR_SUCCESS;  ///< when tried: ERROR_SUCCESS, or why the whole package must come after all
    std::uint32_t fetched = 0;  ///< bytes of the range fetched
};

/// Stages the entries of the road's package that changed since the index the installation keeps
/// (none when nothing changed), and the package's new index.
PackageChanges FetchPackageChanges(CUpdateEngine& engine, const EntryRoad& road);

/// The road of one byte range of the road's package (`length` bytes from `offset`, with the
/// SHA-256 `sha256` when one vouches for them), staged as the package's name + `stageSuffix`.
EntryRoad PackagePartRoad(const CUpdateEngine& engine, const EntryRoad& road, const char* stageSuffix,
                          std::uint32_t offset, std::uint32_t length, const std::string& sha256);

/// Stages `contents` as the kept index of the road's package, when it hashes to the entry's
/// Index (a manifest without one keeps none). A failure only costs the next update its range.
void StageKeptIndex(CUpdateEngine& engine, const EntryRoad& road, const PackageIndex& contents);
