#include "tools/publish/PublishTrust.h"

#include <algorithm>

#include "support/EcdsaP256.h"
#include "tools/publish/ManifestText.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestFormat.h"
#include "update/ManifestSignature.h"
#include "update/TrustState.h"

namespace {
const char kLauncherFileName[] = "KvoLauncher.exe";
}  // namespace

PublicKey PublicHalf(const std::vector<unsigned char>& keyPair)
{
    return PublicKey(keyPair.begin(), keyPair.begin() + std::min(keyPair.size(), kP256PublicKeySize));
}

std::string SigningKeyRefusal(const std::vector<unsigned char>& signingKey, const PublishedKeys& keys)
{
    if (!keys.present)
        return {};
    if (signingKey.empty())
        return "the web root has a key list, so launchers take only signed manifests; publish with --sign-key";
    if (!HasKey(keys.newest.releaseKeys, PublicHalf(signingKey)))
        return "--sign-key is not a release key of the key list (version " + std::to_string(keys.newest.version) +
               "); launchers that hold it would refuse the manifest";
    return {};
}

std::string LauncherTrustRefusal(const LauncherImage& image, const std::vector<unsigned char>& signingKey,
                                 const PublishedKeys& keys)
{
    if (signingKey.empty() && !image.updateKey.empty())
        return std::string(kLauncherFileName) + ": it is built with an update key, so it would refuse every "
                                                "unsigned manifest; publish with --sign-key";
    if (signingKey.empty())
        return {};
    // The roots in effect: the newest key list's, or without a list the signing key alone.
    const RootSet inEffect = keys.present ? keys.newest.roots : RootSet{1, {PublicHalf(signingKey)}};
    RootSet built;
    if (ParseRootSetText(image.updateKey, built) && SameRootSet(built, inEffect))
        return {};
    if (keys.present)
        return std::string(kLauncherFileName) + ": its built-in root keys are not the root set of the key list "
                                                "(version " + std::to_string(keys.newest.version) +
               "), so the players' launchers would refuse it";
    return std::string(kLauncherFileName) + ": its built-in update key is not the public half of --sign-key, "
                                            "so it would refuse every manifest signed with it";
}

bool StampSignedManifest(std::string& document, const PublishedKeys& keys)
{
    return SetProductAttribute(document, manifest::kIssued, FormatUtcTime(UtcNow())) &&
           (!keys.present ||
            SetProductAttribute(document, manifest::kKeyList, std::to_string(keys.newest.version)));
}

bool SignedByPublisher(const std::string& document, const std::vector<unsigned char>& signingKey,
                       const PublishedKeys& keys)
{
    TrustState signers;
    signers.version = 1;  // any of these keys may have signed it
    signers.releaseKeys = keys.everyReleaseKey;
    signers.releaseKeys.push_back(PublicHalf(signingKey));
    return CheckManifestSigner(document, signers) == ManifestSignatureCheck::verified;
}
