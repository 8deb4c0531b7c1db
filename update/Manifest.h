// The update manifest: fetch it, read it, fill the engine's update state.
#pragma once
#include <string>
#include <vector>

#include "update/UpdateFileEntry.h"

class CTrustedKeys;
class CUpdateEngine;

/// What a manifest's first Product says of the release besides its files.
struct ManifestRelease {
    int version = 0;      ///< Ver
    std::string expires;  ///< Expires as written ("" when absent), checked for signed manifests only
    std::string rollout;  ///< Rollout as written ("" when absent: every installation)
    std::string issued;   ///< Issued as written ("" when absent), checked for signed manifests only
    unsigned keyList = 0;  ///< Keys: the version of the key list it was signed under (0 when absent)
    /// The Mirror elements' addresses: the first is the base every URL is written with, the others
    /// serve the same files under their own base.
    std::vector<std::string> mirrors;
};

/// Fetches and reads the manifest at `url` into the engine's update state. True when a manifest
/// with a Product was read. A launcher built with root keys first checks the fetched bytes against
/// the trust that `keys` (the built-in roots by default) started and the installation keeps (see
/// CManifestTrust: key lists fetched beside the manifest when needed) and takes only a manifest
/// signed by a key trusted now, whose every File carries a well-formed SHA256, whose Expires has
/// not passed and whose Issued is not older than the last one taken.
/// Every launcher refuses a Rollout that is not a whole number from 0 to 100 and a Mirror that is
/// not an http or https address with a host. Anything refused is logged and counts as not fetched.
bool ParseManifest(CUpdateEngine& engine, std::string url);
bool ParseManifest(CUpdateEngine& engine, std::string url, const CTrustedKeys& keys);

/// Reads a manifest already fetched (narrow text in the ANSI code page) into the engine's update
/// state: m_nServerVer, m_nRollout and m_mirrors from the first Product, its File entries appended to m_files
/// and both counters set. False, with the state untouched, when the text is not a well-formed
/// document with a Product child of its root or the XML component fails; when its Rollout or a
/// Mirror is malformed; and, when the text was `verified` against the update key, when a File lacks
/// a well-formed SHA256 or the Expires has passed. Refusals are logged with `url`.
bool ReadManifestText(CUpdateEngine& engine, const std::string& text, const std::string& url = std::string(),
                      bool verified = false);

/// The release and the Product//File entries of a manifest text, without any update state. False
/// when the text is not a well-formed document with a Product child of its root or the XML
/// component fails.
bool ReadManifestEntries(const std::string& text, ManifestRelease& release, std::vector<UpdateFileEntry>& entries);

/// A decimal number as atoi reads it: white space, an optional sign, digits; 0 without digits.
/// Values beyond 32 bits are clamped.
int ManifestNumber(const std::string& text);
/// A manifest flag: true unless the text is exactly "NO".
bool ManifestFlag(const std::string& text);
