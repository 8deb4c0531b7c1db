#include "tools/publish/KeyListPublish.h"

#include <algorithm>
#include <iterator>

#include "framework/File.h"
#include "support/EcdsaP256.h"
#include "tools/publish/KeyListFiles.h"
#include "tools/publish/ManifestText.h"
#include "tools/publish/ReleaseTree.h"
#include "tools/publish/SigningKey.h"

namespace {

/// The public keys of the files at `paths` (`size` bytes each: a public key, or a key pair whose
/// public half is taken); false with the reason on `err`.
bool ReadPublicKeys(const std::vector<std::string>& paths, std::size_t size, std::vector<PublicKey>& keys,
                    std::ostream& err)
{
    for (const std::string& path : paths) {
        std::vector<unsigned char> material;
        std::string error;
        if (!ReadKeyFile(path, size, material, error)) {
            err << "KvoPublish: " << error << "\n";
            return false;
        }
        material.resize(kP256PublicKeySize);
        keys.push_back(std::move(material));
    }
    return true;
}

/// The root set in effect before the new list: the newest list's; for the first list, the one the
/// launchers are built with: the new root set when every --root-key is one of it, else the one
/// --root-key outside it (a launcher's single update key, moving to roots).
bool CurrentRoots(const PublishedKeys& published, const RootSet& given, const std::vector<PublicKey>& signers,
                  RootSet& roots, std::ostream& err)
{
    if (published.present) {
        if (!published.newest.namesRoots) {
            err << "KvoPublish: the key list in effect names no root set; write the next one with "
                   "--new-root-public and --new-threshold\n";
            return false;
        }
        roots = published.newest.roots;
        return true;
    }
    std::vector<PublicKey> outside;
    std::copy_if(signers.begin(), signers.end(), std::back_inserter(outside),
                 [&](const PublicKey& signer) { return !HasKey(given.keys, signer); });
    if (outside.empty() && !given.keys.empty()) {
        roots = given;
        return true;
    }
    if (outside.size() == 1) {
        roots.threshold = 1;
        roots.keys = outside;
        return true;
    }
    err << "KvoPublish: the first key list must name the roots the launchers are built with "
           "(--new-root-public FILE... --new-threshold N), or be signed by their one update key\n";
    return false;
}

/// Whether `signers` reach the threshold of `roots`; the shortfall on `err` otherwise.
bool Reaches(const RootSet& roots, const std::vector<PublicKey>& signers, const char* which, std::ostream& err)
{
    const auto count = static_cast<unsigned>(std::count_if(
        roots.keys.begin(), roots.keys.end(), [&](const PublicKey& key) { return HasKey(signers, key); }));
    if (count >= roots.threshold)
        return true;
    err << "KvoPublish: refused: " << count << " key(s) of the " << which << " root set sign, its threshold is "
        << roots.threshold << "; give more --root-key files\n";
    return false;
}

}  // namespace

PublishStatus PublishKeyList(const PublishOptions& options, std::ostream& out, std::ostream& err)
{
    const std::string webRoot = FullPathOf(options.keyListDir);
    std::vector<std::vector<unsigned char>> rootPairs;
    std::vector<PublicKey> signers;
    KeyList list;
    RootSet newRoots;
    newRoots.threshold = options.newThreshold == 0 ? 1 : static_cast<unsigned>(options.newThreshold);
    for (const std::string& path : options.rootKeys) {
        std::vector<unsigned char> pair;
        std::string error;
        if (!ReadKeyFile(path, kP256PrivateKeySize, pair, error)) {
            err << "KvoPublish: " << error << "\n";
            return kPublishBadCommandLine;
        }
        signers.emplace_back(pair.begin(), pair.begin() + kP256PublicKeySize);
        rootPairs.push_back(std::move(pair));
    }
    if (!ReadPublicKeys(options.releasePublics, kP256PublicKeySize, list.releaseKeys, err) ||
        !ReadPublicKeys(options.newRootPublics, kP256PublicKeySize, newRoots.keys, err))
        return kPublishBadCommandLine;
    if (!newRoots.keys.empty() && !IsUsableRootSet(newRoots)) {
        err << "KvoPublish: the new root set must be one to four distinct keys and a threshold from 1 to their "
               "number\n";
        return kPublishBadCommandLine;
    }
    PublishedKeys published;
    std::string error;
    if (!ReadPublishedKeys(webRoot, published, error)) {
        err << "KvoPublish: " << error << "\n";
        return kPublishRefused;
    }
    RootSet current;
    if (!CurrentRoots(published, newRoots, signers, current, err))
        return kPublishRefused;
    list.version = published.present ? published.newest.version + 1 : 1;
    list.expires = ExpiryInDays(options.expiresDays);
    list.namesRoots = true;
    list.roots = newRoots.keys.empty() ? current : newRoots;
    // Every root key given must be one of the sets: a stray key would sign for nothing.
    for (const PublicKey& signer : signers) {
        if (!HasKey(current.keys, signer) && !HasKey(list.roots.keys, signer)) {
            err << "KvoPublish: refused: a --root-key is not a key of the root set in effect or of the new one\n";
            return kPublishRefused;
        }
    }
    if (!Reaches(current, signers, "current", err) || !Reaches(list.roots, signers, "new", err))
        return kPublishRefused;

    std::string document = FormatKeyListText(list);
    const std::string signedText = document;
    for (const auto& pair : rootPairs) {
        std::string comment;
        if (!SignManifest(signedText, pair, comment)) {
            err << "KvoPublish: the system could not sign with a --root-key\n";
            return kPublishWriteFailed;
        }
        document += comment;
    }
    try {
        WriteFileInPlace(KeyListPath(webRoot, VersionedKeyListName(list.version)), document);
        WriteFileInPlace(KeyListPath(webRoot, keylist::kCurrentFileName), document);
    } catch (const kvo::CFileException& failed) {
        err << "KvoPublish: " << failed.m_strFileName << ": system error " << failed.m_lOsError << "\n";
        return kPublishWriteFailed;
    }
    out << "wrote key list version " << list.version << ": " << list.releaseKeys.size() << " release key(s), "
        << list.roots.keys.size() << " root key(s) with threshold " << list.roots.threshold
        << (SameRootSet(list.roots, current) ? "" : " (a new root set)") << ", signed by " << rootPairs.size()
        << " root key(s), expires " << list.expires << "\n"
        << "copy " << KeyListPath(webRoot, "") << " to the update hosts; sign manifests with a release key of it\n";
    return kPublishOk;
}
