#include "update/TrustedKeys.h"

#include "support/Sha256.h"
#include "update/BuildHosts.h"
#include "update/TrustState.h"

CTrustedKeys::CTrustedKeys(const std::string& rootText) : m_bRequired(!rootText.empty())
{
    if (m_bRequired && !ParseRootSetText(rootText, m_roots))
        m_roots = RootSet();
}

CTrustedKeys::CTrustedKeys(std::vector<unsigned char> publicKey) : m_bRequired(true)
{
    m_roots.threshold = 1;
    m_roots.keys.push_back(std::move(publicKey));
}

const CTrustedKeys& CTrustedKeys::BuiltIn()
{
    static const CTrustedKeys keys(kUpdateRootKeys);
    return keys;
}

bool CTrustedKeys::Verify(const std::string& signedText, const std::vector<unsigned char>& signature) const
{
    PublicKey signer;
    return FindManifestSigner(BuiltInTrust(m_roots), CSha256::Of(signedText.data(), signedText.size()), signature,
                              signer);
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
