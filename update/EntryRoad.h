// What decides the road of one manifest entry through the run, read once when the run takes it:
// where its file lies, whether it is a package, the hash its bytes must have, whether it is the
// launcher itself. The check, the download and the installation all go by it.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/Sha256.h"
#include "update/UpdateFileEntry.h"

struct EntryRoad {
    UpdateFileEntry entry;
    /// moduleDir + FileName, as the local check looks at it.
    std::string localPath;
    /// The file a download replaces: FileName joined under moduleDir ("/" turned into "\"); empty
    /// when `refusal` says why no request may be made for the entry.
    std::string target;
    DWORD refusal = ERROR_SUCCESS;
    bool isPackage = false;
    /// SHA256 is given: a downloaded body must match `listed`, and with `hashWellFormed` false
    /// nothing can match it.
    bool hashGiven = false;
    bool hashWellFormed = false;
    Sha256Digest listed{};
    /// The body's length as the manifest vouches for it (Length, with a well-formed SHA256); 0
    /// when it vouches for none. A server must announce exactly this, and no more is ever written.
    std::uint32_t signedLength = 0;
    /// The target is the running program's own file.
    bool replacesLauncher = false;
    /// Where the file may be fetched, in the order tried: its URL, then the same path under each
    /// mirror when the URL lies under the manifest's base.
    std::vector<std::string> addresses;

    /// A part of a file (entries of a package): its first byte and its length in the file at
    /// `addresses`, and that file's whole length. 0 for a whole file.
    std::uint32_t partOffset = 0;
    std::uint32_t partLength = 0;
    std::uint32_t partOfLength = 0;

    bool IsPart() const { return partOfLength != 0; }
    /// The entry's bytes can be checked at the end, so a download may be pieced together from
    /// attempts (resumed) and a local file with those bytes is current.
    bool IsHashChecked() const { return hashWellFormed; }
};

/// The road of `entry` in the installation at `moduleDir` (ending in a backslash), with the
/// manifest's `mirrors` (its base first; none when it lists none).
EntryRoad TakeEntry(const UpdateFileEntry& entry, const std::string& moduleDir,
                    const std::vector<std::string>& mirrors = {});
