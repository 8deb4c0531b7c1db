#include "update/RootSet.h"

#include <algorithm>

#include "support/Base64.h"
#include "support/EcdsaP256.h"

namespace {

const char kFieldSeparator = ',';

std::vector<std::string> SplitFields(const std::string& text)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(kFieldSeparator, start);
        fields.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            return fields;
        start = end + 1;
    }
}

bool IsSmallNumber(const std::string& text)
{
    return text.size() == 1 && text[0] >= '0' && text[0] <= '9';
}

}  // namespace

bool IsUsableRootSet(const RootSet& roots)
{
    if (roots.keys.empty() || roots.keys.size() > kMaxRootKeys || roots.threshold < 1 ||
        roots.threshold > roots.keys.size())
        return false;
    for (std::size_t i = 0; i < roots.keys.size(); ++i) {
        if (roots.keys[i].size() != kP256PublicKeySize ||
            std::find(roots.keys.begin() + static_cast<std::ptrdiff_t>(i) + 1, roots.keys.end(), roots.keys[i]) !=
                roots.keys.end())
            return false;
    }
    return true;
}

bool ParseRootSetText(const std::string& text, RootSet& roots)
{
    std::vector<std::string> fields = SplitFields(text);
    RootSet read;
    read.threshold = 1;
    if (fields.size() > 1) {
        if (!IsSmallNumber(fields.front()))
            return false;
        read.threshold = static_cast<unsigned>(fields.front()[0] - '0');
        fields.erase(fields.begin());
    }
    for (const std::string& field : fields) {
        PublicKey key;
        if (!DecodeBase64(field, key))
            return false;
        read.keys.push_back(std::move(key));
    }
    if (!IsUsableRootSet(read))
        return false;
    roots = std::move(read);
    return true;
}

std::string FormatRootSetText(const RootSet& roots)
{
    if (roots.keys.size() == 1 && roots.threshold == 1)
        return EncodeBase64(roots.keys.front());
    std::string text = std::to_string(roots.threshold);
    for (const PublicKey& key : roots.keys)
        text += kFieldSeparator + EncodeBase64(key);
    return text;
}

bool HasKey(const std::vector<PublicKey>& keys, const PublicKey& key)
{
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool SameRootSet(const RootSet& a, const RootSet& b)
{
    return a.threshold == b.threshold && a.keys.size() == b.keys.size() &&
           std::all_of(a.keys.begin(), a.keys.end(), [&](const PublicKey& key) { return HasKey(b.keys, key); });
}

unsigned CountSigners(const std::vector<PublicKey>& keys, const Sha256Digest& digest,
                      const std::vector<Signature>& signatures)
{
    unsigned signers = 0;
    for (const PublicKey& key : keys) {
        if (std::any_of(signatures.begin(), signatures.end(),
                        [&](const Signature& signature) { return VerifyP256Signature(key, digest, signature); }))
            ++signers;
    }
    return signers;
}

bool MeetsThreshold(const RootSet& roots, const Sha256Digest& digest, const std::vector<Signature>& signatures)
{
    return roots.threshold > 0 && CountSigners(roots.keys, digest, signatures) >= roots.threshold;
}
