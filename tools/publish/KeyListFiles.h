// The key lists of a web root, as the publishing tool writes and finds them:
// AutoUpdate\keys.xml (the newest) and AutoUpdate\keys.<N>.xml (every version, the newest too).
#pragma once
#include <string>
#include <vector>

#include "update/KeyList.h"

/// The path of the key list file `name` below the web root `webRoot`.
std::string KeyListPath(const std::string& webRoot, const std::string& name);

/// The text of `list`, ready to be signed: "\r\n" line ends, ASCII only.
std::string FormatKeyListText(const KeyList& list);

/// Reads the key list file at `path` without checking its signatures (the operator's own files).
/// False when there is none or it is not a key list; `present` tells which.
bool ReadKeyListFile(const std::string& path, KeyList& list, bool& present);

/// What a web root's key lists hold for a publish.
struct PublishedKeys {
    bool present = false;  ///< AutoUpdate\keys.xml exists
    KeyList newest;
    std::vector<PublicKey> everyReleaseKey;  ///< of every version kept there
};

/// The key lists of `webRoot`; false with a one-line reason in `error` when keys.xml is there but
/// cannot be read as a key list.
bool ReadPublishedKeys(const std::string& webRoot, PublishedKeys& keys, std::string& error);
