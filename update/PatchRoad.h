// The road of an out-of-date file through a patch: when the file the installation holds has one
// of the older contents the entry lists a patch from, the patch is fetched like any file (the same
// transport, retries, mirrors, resume and speed floor), checked, and applied into the entry's
// staged file, which is then checked like a downloaded one.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "update/EntryRoad.h"

class CUpdateEngine;

/// A patch is staged as the entry's name with this suffix: a name no entry's file has.
inline constexpr char kPatchStageSuffix[] = ".kvopatch";

/// The patch of the road's entry whose Source, in the installation at `moduleDir`, has exactly
/// the bytes the patch starts from; null when none has (or the entry lists none).
const FilePatch* ChooseFilePatch(const EntryRoad& road, const std::string& moduleDir);

/// The road of `patch` itself: the patch's address (and the mirrors'), its SHA-256 and length,
/// staged under a name of its own beside the entry's.
EntryRoad PatchRoadOf(const EntryRoad& road, const FilePatch& patch, const std::string& moduleDir,
                      const std::vector<std::string>& mirrors);

/// Fetches `patch` and stages the entry's file made from it. ERROR_SUCCESS, or why not (the patch
/// could not be had, kErrorPatchFailed, kErrorHashMismatch for a result that is not the file, a
/// local failure); nothing is staged for the entry then.
DWORD FetchByPatch(CUpdateEngine& engine, const EntryRoad& road, const FilePatch& patch);
