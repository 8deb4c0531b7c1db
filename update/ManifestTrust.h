// Whether a fetched manifest is one to act on: signed by a key the launcher trusts now, vouched
// for by a key list that has not expired, and issued no earlier than the last manifest taken. The
// trust moves forward on the way: newer key lists are fetched from the manifest's host and walked
// version by version when the manifest needs them, and kept.
#pragma once
#include <string>

#include "update/Manifest.h"
#include "update/TrustState.h"

class CUpdateEngine;

class CManifestTrust {
public:
    /// The trust kept in the engine's installation (or `builtIn`) for the manifest at `url`.
    CManifestTrust(CUpdateEngine& engine, std::string url, const RootSet& builtIn);

    /// Checks the fetched bytes before anything reads them, and logs the outcome as every signed
    /// launcher does. When the signature is not one the trust knows, or the key list held has
    /// expired, newer key lists are fetched first.
    bool Authenticate(const std::string& body);
    /// What the read manifest says of its trust: a newer key list it names is fetched (and its
    /// signer must still be in it); the key list must not have expired; its Issued must be no
    /// earlier than the last one taken. Refusals are logged.
    bool Vouches(const ManifestRelease& release);
    /// The manifest was taken: its Issued is the one to beat from now on.
    void Accept(const ManifestRelease& release);

private:
    bool VerifySigner();
    void FetchNewerKeyLists();
    KeyListStep OfferKeyList(const std::string& url);
    void Keep();

    CUpdateEngine& m_engine;
    std::string m_url;
    TrustState m_trust;
    Sha256Digest m_digest{};  ///< of the manifest's signed bytes
    Signature m_signature;
    PublicKey m_signer;
    std::string m_refusal;  ///< the log line of the last key list refused
    bool m_bListsFetched = false;
};
