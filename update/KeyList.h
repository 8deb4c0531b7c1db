// The signed key list, AutoUpdate/keys.xml beside the manifest: which release keys may sign
// manifests, until when, and the root set in effect from its version on. Signed by at least the
// threshold of the root keys in effect before it; a list that changes the root set also by the
// threshold of the new one. Every earlier version stays served as keys.<N>.xml, so that a launcher
// that missed some walks them one by one.
//
//   <KvoKeys Version="2" Expires="2027-12-08T00:00:00Z" RootThreshold="2">
//   <Root>BASE64</Root>…            (optional: the root set in effect from this version on)
//   <ReleaseKey>BASE64</ReleaseKey>…
//   </KvoKeys>
//   <!-- KvoSignature: BASE64 -->…  (one per signing root key)
#pragma once
#include <string>
#include <vector>

#include "update/RootSet.h"

namespace keylist {
inline constexpr char kDocumentElement[] = "KvoKeys";
inline constexpr char kVersion[] = "Version";
inline constexpr char kExpires[] = "Expires";
inline constexpr char kRootThreshold[] = "RootThreshold";
inline constexpr char kRoot[] = "Root";
inline constexpr char kReleaseKey[] = "ReleaseKey";
/// The newest list, beside the manifest.
inline constexpr char kCurrentFileName[] = "keys.xml";
/// Version N of the list: "keys." N ".xml".
inline constexpr char kVersionedPrefix[] = "keys.";
inline constexpr char kVersionedSuffix[] = ".xml";
/// More signatures than root keys of two sets are never needed.
inline constexpr std::size_t kMaxSignatures = 2 * kMaxRootKeys;
}  // namespace keylist

/// What a key list says.
struct KeyList {
    unsigned version = 0;
    std::string expires;  ///< "YYYY-MM-DDTHH:MM:SSZ"
    bool namesRoots = false;
    RootSet roots;  ///< when namesRoots: the root set in effect from this version on
    std::vector<PublicKey> releaseKeys;
};

/// Reads the text of a key list (its lines joined, as for a manifest). False when it is not one: a
/// version that is not a whole number from 1, an Expires that is not a UTC time, a key that is not
/// base64 of 64 bytes, no release key, a root set that is not usable (one key twice, a threshold
/// above its keys), or the XML component fails.
bool ReadKeyListText(const std::string& text, KeyList& list);

/// The name of version `version` of the list ("keys.<N>.xml").
std::string VersionedKeyListName(unsigned version);
