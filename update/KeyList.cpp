#include "update/KeyList.h"

#include <objbase.h>

#include <climits>
#include <cstdlib>
#include <new>

#include "support/Base64.h"
#include "support/EcdsaP256.h"
#include "support/VorelXML.h"
#include "update/ManifestExpiry.h"

namespace {

const std::string kDocumentPattern = std::string("/") + keylist::kDocumentElement;
constexpr int kDecimalBase = 10;

/// A whole number from 1 to INT_MAX, digits only.
bool ParsePositiveNumber(const std::string& text, unsigned& number)
{
    if (text.empty() || text.size() > std::to_string(INT_MAX).size() ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, kDecimalBase);
    if (value < 1 || value > static_cast<unsigned long long>(INT_MAX))
        return false;
    number = static_cast<unsigned>(value);
    return true;
}

bool ParseKey(const std::string& text, PublicKey& key)
{
    return DecodeBase64(text, key) && key.size() == kP256PublicKeySize;
}

/// The elements of the list below its document element; false for a key that is not one.
bool ReadKeys(const std::vector<XmlChild>& children, KeyList& list)
{
    for (const XmlChild& child : children) {
        const bool root = child.name == keylist::kRoot;
        if (!root && child.name != keylist::kReleaseKey)
            continue;  // elements of later versions are read past
        PublicKey key;
        if (!ParseKey(child.text, key))
            return false;
        (root ? list.roots.keys : list.releaseKeys).push_back(std::move(key));
        list.namesRoots = list.namesRoots || root;
    }
    return true;
}

}  // namespace

bool ReadKeyListText(const std::string& text, KeyList& list)
{
    // As for the manifest: a multithreaded apartment, or the one the thread is in already.
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        CVorelXML xml;
        if (FAILED(xml.CreateDocument()) || !xml.LoadXml(text.c_str()))
            return false;
        xml.SelectNodes(kDocumentPattern.c_str());
        if (!xml.NextNode())
            return false;
        KeyList read;
        FILETIME ignored{};
        if (!ParsePositiveNumber(xml.GetAttribute(keylist::kVersion), read.version))
            return false;
        read.expires = xml.GetAttribute(keylist::kExpires);
        const std::string threshold = xml.GetAttribute(keylist::kRootThreshold);
        if (!ParseUtcTime(read.expires, ignored) || !ReadKeys(xml.GetChildElements(), read) || read.releaseKeys.empty())
            return false;
        if (read.namesRoots && !ParsePositiveNumber(threshold, read.roots.threshold))
            return false;
        if (read.namesRoots && !IsUsableRootSet(read.roots))
            return false;
        list = std::move(read);
        return true;
    } catch (const CComError&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::string VersionedKeyListName(unsigned version)
{
    return keylist::kVersionedPrefix + std::to_string(version) + keylist::kVersionedSuffix;
}
