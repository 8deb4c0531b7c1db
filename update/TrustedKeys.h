// The root keys built into the launcher, decoded once when the launcher starts.
#pragma once
#include <string>
#include <vector>

#include "update/ManifestSignature.h"
#include "update/RootSet.h"

class CTrustedKeys {
public:
    /// From a launcher's root text (see ParseRootSetText): the base64 of one P-256 public key
    /// (X‖Y), or a threshold and up to four keys. An empty text trusts no key: manifests are then
    /// taken as they come. A text that does not decode trusts nothing at all (the build checks the
    /// text; such a launcher verifies no signature).
    explicit CTrustedKeys(const std::string& rootText);
    /// From one key's bytes (X‖Y): a single root, which signs manifests itself.
    explicit CTrustedKeys(std::vector<unsigned char> publicKey);
    /// The roots built into this launcher, decoded at their first use.
    static const CTrustedKeys& BuiltIn();

    /// True when manifests must carry a signature of a trusted key.
    bool RequireSignature() const noexcept { return m_bRequired; }
    /// The built-in roots; no keys when none are trusted.
    const RootSet& Roots() const noexcept { return m_roots; }
    /// Splits `document` (the bytes as fetched) and verifies its signature by a key that may sign
    /// manifests before any key list is known (a single root).
    ManifestSignatureCheck Check(const std::string& document) const;

private:
    bool m_bRequired = false;
    RootSet m_roots;
};
