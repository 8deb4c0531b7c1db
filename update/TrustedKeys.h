// The keys whose signature a manifest must carry, decoded once when the launcher starts.
#pragma once
#include <string>
#include <vector>

#include "update/ManifestSignature.h"

class CTrustedKeys {
public:
    /// From the base64 text of a P-256 public key (X‖Y). An empty text trusts no key: manifests
    /// are then taken as they come. A text that does not decode trusts nothing at all (the build
    /// checks the key; such a text verifies no signature).
    explicit CTrustedKeys(const std::string& base64Key);
    /// From the key's bytes (X‖Y), which must sign every manifest.
    explicit CTrustedKeys(std::vector<unsigned char> publicKey);
    /// The key built into this launcher, decoded at its first use.
    static const CTrustedKeys& BuiltIn();

    /// True when manifests must carry a signature of a trusted key.
    bool RequireSignature() const noexcept { return m_bRequired; }
    /// True when `signature` (r‖s) signs exactly `signedText` with a trusted key.
    bool Verify(const std::string& signedText, const std::vector<unsigned char>& signature) const;
    /// Splits `document` (the bytes as fetched) and verifies its signature.
    ManifestSignatureCheck Check(const std::string& document) const;

private:
    bool m_bRequired = false;
    std::vector<unsigned char> m_key;  ///< X‖Y; empty when none is trusted
};
