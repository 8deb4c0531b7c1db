#include "update/TrustedKeys.h"

#include "support/Base64.h"
#include "support/EcdsaP256.h"
#include "support/Sha256.h"
#include "update/BuildHosts.h"

CTrustedKeys::CTrustedKeys(const std::string& base64Key) : m_bRequired(!base64Key.empty())
{
    if (m_bRequired && !DecodeBase64(base64Key, m_key))
        m_key.clear();
}

CTrustedKeys::CTrustedKeys(std::vector<unsigned char> publicKey) : m_bRequired(true), m_key(std::move(publicKey)) {}

const CTrustedKeys& CTrustedKeys::BuiltIn()
{
    static const CTrustedKeys keys(kUpdatePublicKey);
    return keys;
}

bool CTrustedKeys::Verify(const std::string& signedText, const std::vector<unsigned char>& signature) const
{
    if (m_key.empty())
        return false;
    return VerifyP256Signature(m_key, CSha256::Of(signedText.data(), signedText.size()), signature);
}

ManifestSignatureCheck CTrustedKeys::Check(const std::string& document) const
{
    std::string signedPart;
    std::vector<unsigned char> signature;
    bool missing = false;
    if (!SplitSignedManifest(document, signedPart, signature, missing))
        return missing ? ManifestSignatureCheck::missing : ManifestSignatureCheck::malformed;
    return Verify(signedPart, signature) ? ManifestSignatureCheck::verified : ManifestSignatureCheck::invalid;
}

ManifestSignatureCheck CheckManifestSignature(const std::string& document, const std::vector<unsigned char>& publicKey)
{
    return CTrustedKeys(publicKey).Check(document);
}
