// The manifest text that the launcher reads: a Product with one File element per entry.
#pragma once
#include <string>
#include <vector>

#include "update/UpdateFileEntry.h"

/// The product attributes of a manifest.
struct ManifestProduct {
    std::string name;
    int version = 0;
    std::string expires;  ///< written as Expires="..." when not empty (signed manifests)
    int rollout = -1;     ///< written as Rollout="..." when 0 or more
    /// Written as Mirror elements before the files: the base every URL is written with first.
    std::vector<std::string> mirrors;
};

/// The whole update.xml for `entries`, in their order, in the system's ANSI code page with no
/// declared encoding, "\r\n" line ends. Every element the launcher reads is written, each value
/// on its own line (the launcher joins the lines of the body before it parses them) and
/// XML-escaped. FileDateHigh/FileDateLow are written as the signed 32-bit numbers the launcher
/// keeps, so their bits come back unchanged. SHA256 is written when the entry has one.
std::string FormatManifest(const ManifestProduct& product, const std::vector<UpdateFileEntry>& entries);

/// Sets the attribute `name` of the first Product start tag of `document` to `value` (XML-escaped),
/// changing no other byte: the value of an attribute already there is replaced, otherwise the
/// attribute is added before the tag's end. False when the document has no Product start tag.
bool SetProductAttribute(std::string& document, const std::string& name, const std::string& value);

/// The UTC time `days` from now, as Expires carries it.
std::string ExpiryInDays(int days);
