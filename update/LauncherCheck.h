// Whether a program file can take the running launcher's place. The players' machines must always
// keep a launcher that starts and trusts the roots their key lists are signed with, so a new copy
// is checked statically, from its file, before it replaces the running one.
#pragma once
#include <windows.h>

#include <string>

#include "support/PeImage.h"

class CTrustedKeys;

/// What a launcher file is: its kind, and the root keys built into it.
struct LauncherImage {
    PeImageKind kind;
    std::string updateKey;  ///< its root text (see ParseRootSetText); empty when it has none
};

/// Reads the image kind and the IDR_UPDATE_KEY resource of the program at `path` without running
/// or mapping it. False when it is not a PE image.
bool ReadLauncherImage(const std::string& path, LauncherImage& image);
/// The same through the open, readable `file`.
bool ReadLauncherImage(HANDLE file, LauncherImage& image);

/// ERROR_SUCCESS when the program at `path` may replace a launcher like `running`: a whole image
/// of the same machine type, header format and subsystem, built with the same root keys and
/// threshold (in any order) when `running` has some. kErrorLauncherRefused otherwise.
DWORD CheckReplacementLauncher(const std::string& path, const LauncherImage& running);
/// The same through the open, readable `file`: the bytes checked are the bytes that stay held.
DWORD CheckReplacementLauncher(HANDLE file, const LauncherImage& running);

/// The running launcher as CheckReplacementLauncher compares with it: its own file's kind and
/// the roots it trusts now (built in, or those a key list rotated to, kept in its folder).
LauncherImage RunningLauncherImage();
/// The root text a replacement of a launcher built with `builtIn` must carry, the installation
/// being `programDir`: the roots in effect there now; "" when the launcher trusts none.
std::string TrustedRootText(const std::string& programDir, const CTrustedKeys& builtIn);
