#include "update/TrustedKeys.h"

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

ManifestSignatureCheck CTrustedKeys::Check(const std::string& document) const
{
    return CheckManifestSigner(document, BuiltInTrust(m_roots));
}

ManifestSignatureCheck CheckManifestSignature(const std::string& document, const std::vector<unsigned char>& publicKey)
{
    return CTrustedKeys(publicKey).Check(document);
}
