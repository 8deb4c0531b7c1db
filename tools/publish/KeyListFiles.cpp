#include "tools/publish/KeyListFiles.h"

#include <windows.h>

#include "support/Base64.h"
#include "tools/publish/ReleaseTree.h"
#include "update/ManifestFetch.h"
#include "update/ManifestSignature.h"

namespace {

const char kKeyListFolder[] = "\\AutoUpdate\\";
const char kLineEnd[] = "\r\n";

std::string Attribute(const char* name, const std::string& value)
{
    return std::string(" ") + name + "=\"" + value + "\"";
}

std::string KeyElement(const char* name, const PublicKey& key)
{
    return std::string("<") + name + ">" + EncodeBase64(key) + "</" + name + ">" + kLineEnd;
}

}  // namespace

std::string KeyListPath(const std::string& webRoot, const std::string& name)
{
    return webRoot + kKeyListFolder + name;
}

std::string FormatKeyListText(const KeyList& list)
{
    std::string text = std::string("<?xml version=\"1.0\" encoding=\"us-ascii\"?>") + kLineEnd + "<" +
                       keylist::kDocumentElement + Attribute(keylist::kVersion, std::to_string(list.version)) +
                       Attribute(keylist::kExpires, list.expires);
    if (list.namesRoots)
        text += Attribute(keylist::kRootThreshold, std::to_string(list.roots.threshold));
    text += std::string(">") + kLineEnd;
    if (list.namesRoots) {
        for (const PublicKey& key : list.roots.keys)
            text += KeyElement(keylist::kRoot, key);
    }
    for (const PublicKey& key : list.releaseKeys)
        text += KeyElement(keylist::kReleaseKey, key);
    return text + "</" + keylist::kDocumentElement + ">" + kLineEnd;
}

bool ReadKeyListFile(const std::string& path, KeyList& list, bool& present)
{
    std::string document;
    present = ReadWholeFile(path, document);
    std::string signedPart;
    std::vector<Signature> signatures;
    bool missing = false;
    return present && SplitSignedDocument(document, keylist::kMaxSignatures, signedPart, signatures, missing) &&
           ReadKeyListText(JoinBodyLines(signedPart), list);
}

bool ReadPublishedKeys(const std::string& webRoot, PublishedKeys& keys, std::string& error)
{
    keys = PublishedKeys();
    const std::string newestPath = KeyListPath(webRoot, keylist::kCurrentFileName);
    if (!ReadKeyListFile(newestPath, keys.newest, keys.present)) {
        if (keys.present)
            error = newestPath + " is not a signed key list";
        return !keys.present;
    }
    for (unsigned version = 1; version <= keys.newest.version; ++version) {
        KeyList earlier;
        bool present = false;
        if (ReadKeyListFile(KeyListPath(webRoot, VersionedKeyListName(version)), earlier, present))
            keys.everyReleaseKey.insert(keys.everyReleaseKey.end(), earlier.releaseKeys.begin(),
                                        earlier.releaseKeys.end());
    }
    keys.everyReleaseKey.insert(keys.everyReleaseKey.end(), keys.newest.releaseKeys.begin(),
                                keys.newest.releaseKeys.end());
    return true;
}
