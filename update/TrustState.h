// What a launcher trusts now: the root set, the newest key list it verified and the newest
// manifest it accepted. It starts from the roots built into the launcher and only ever moves
// forward: to the next version of the key list, signed by the roots in effect (and, when the list
// changes them, by the new ones too), and to manifests issued no earlier than the last one taken.
// Kept in a file of its own inside the installation.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "update/ManifestSignature.h"
#include "update/RootSet.h"

struct TrustState {
    unsigned version = 0;  ///< of the key list held; 0: none, only the built-in roots
    std::string expires;   ///< of the key list held
    RootSet roots;
    std::vector<PublicKey> releaseKeys;  ///< of the key list held
    std::string issued;                  ///< the newest Issued accepted; "" when none
    PublicKey issuedBy;                  ///< the key that signed that manifest
    /// The text of every root set in effect since the built-in one (see FormatRootSetText): a
    /// launcher built with one of them continues this trust.
    std::vector<std::string> knownRoots;
};

/// The trust of a launcher that has seen no key list: its built-in roots.
TrustState BuiltInTrust(const RootSet& roots);

/// The keys whose signature a manifest may carry: the release keys of the list held; without a
/// list, a root key when one root alone is enough (a launcher's single update key).
std::vector<PublicKey> ManifestSigners(const TrustState& trust);

/// The signer of `signature` over `digest` among the manifest signers; false when none signed it.
bool FindManifestSigner(const TrustState& trust, const Sha256Digest& digest, const Signature& signature,
                        PublicKey& signer);

/// Splits `document` (the bytes as fetched) and checks its signature against the manifest signers
/// of `trust`.
ManifestSignatureCheck CheckManifestSigner(const std::string& document, const TrustState& trust);

/// What became of a key list offered as the next step.
enum class KeyListStep {
    taken,          ///< the next version, taken
    rotated,        ///< the next version, taken, with a new root set
    notNewer,       ///< the version held already
    lower,          ///< older than the version held: refused
    notNext,        ///< newer than the next version: the versions between must be walked first
    rootsShort,     ///< fewer than the threshold of the roots in effect signed it: refused
    newRootsShort,  ///< a new root set, signed by fewer than its own threshold: refused
    missing,        ///< no signature at all (nothing published there)
    malformed,      ///< signatures or content not readable as a key list: refused
};

/// Offers `document` (the bytes as fetched) as the next key list of `trust`; on taken or rotated,
/// `trust` holds it. `listed` receives the version the list names (0 when it was not read). The
/// bytes are read as a list only once the roots in effect vouched for them.
KeyListStep AdvanceTrust(TrustState& trust, const std::string& document, unsigned& listed);

/// True when `trust` holds a key list whose expiry is earlier than `now`.
bool KeyListExpired(const TrustState& trust, const FILETIME& now);

/// The file, relative to the installation, where the trust is kept.
inline constexpr char kTrustFileName[] = "KvoTrust.txt";

/// The trust kept in `moduleDir`, or `builtIn` when none is kept there, when what is kept cannot be
/// read (`unreadable` then says so), or when it descends from other roots than `builtIn` (a launcher
/// put there by hand, which starts over from its own roots; the newest Issued is kept).
TrustState LoadTrust(const std::string& moduleDir, const RootSet& builtIn, bool& unreadable);
/// Keeps `trust` in `moduleDir` through a temporary file, flushed: ERROR_SUCCESS or why not.
DWORD SaveTrust(const std::string& moduleDir, const TrustState& trust);

/// The text of the kept file, and back; false for a text that is not one.
std::string FormatTrustText(const TrustState& trust);
bool ParseTrustText(const std::string& text, TrustState& trust);
