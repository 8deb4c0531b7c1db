// KvoPublish --verify: what a release pipeline runs on the web root before it goes live.
#include <windows.h>

#include <algorithm>

#include "framework/Internet.h"
#include "support/EcdsaP256.h"
#include "support/PathGuard.h"
#include "support/Sha256.h"
#include "tools/publish/Publisher.h"
#include "tools/publish/KeyListFiles.h"
#include "tools/publish/PublishText.h"
#include "tools/publish/ReleaseTree.h"
#include "tools/publish/SigningKey.h"
#include "update/Manifest.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestFetch.h"
#include "update/ManifestSignature.h"
#include "update/TrustState.h"

namespace {

const char* ExpiryProblem(ManifestExpiry expiry)
{
    switch (expiry) {
    case ManifestExpiry::fresh:
        return nullptr;
    case ManifestExpiry::expired:
        return "the manifest has expired: launchers built with a key refuse it; renew it with --refresh";
    case ManifestExpiry::malformed:
        break;
    }
    return "the manifest has no valid Expires: launchers built with a key refuse it; publish or --refresh it "
           "with --sign-key";
}

/// True when the served file is as long as the entry says (a Length of 0 says nothing).
bool HasListedLength(const UpdateFileEntry& entry, const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return entry.Length <= 0 || (::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
                                 data.nFileSizeHigh == 0 && data.nFileSizeLow == static_cast<DWORD>(entry.Length));
}

/// The file below `webRoot` that the server answers `url` with; false when the URL's path is
/// not a plain relative path there.
bool ServedFileOf(const std::string& webRoot, const std::string& url, std::string& path)
{
    kvo::ParsedUrl parts;
    std::string utf8;
    std::string ansi;
    if (!kvo::ParseURL(url, parts) || parts.object.find('?') != std::string::npos ||
        !PercentDecode(parts.object.substr(1), utf8) || !Utf8ToAnsi(utf8, ansi))
        return false;
    std::replace(ansi.begin(), ansi.end(), '/', '\\');
    return JoinUnderBase(webRoot + "\\", ansi, path);
}

/// Why a key list step was not taken, in the operator's words.
const char* StepProblem(KeyListStep step)
{
    switch (step) {
    case KeyListStep::lower:
    case KeyListStep::notNewer:
    case KeyListStep::notNext:
        return "its version is not the next one";
    case KeyListStep::rootsShort:
        return "fewer than the threshold of the roots in effect signed it";
    case KeyListStep::newRootsShort:
        return "it names a new root set, and fewer than that set's threshold signed it";
    case KeyListStep::missing:
        return "it is not signed";
    default:
        break;
    }
    return "it cannot be read as a key list";
}

/// Walks the key lists of `webRoot` from `trust` (the roots given) version by version, as a
/// launcher does; false, with every problem on `err`, when a step or the newest list fails.
bool VerifyKeyChain(const std::string& webRoot, TrustState& trust, std::ostream& err)
{
    std::string newest;
    if (!ReadWholeFile(KeyListPath(webRoot, keylist::kCurrentFileName), newest))
        return true;  // no key list: the roots sign the manifest themselves
    for (;;) {
        const std::string name = VersionedKeyListName(trust.version + 1);
        std::string document;
        if (!ReadWholeFile(KeyListPath(webRoot, name), document))
            break;
        unsigned listed = 0;
        const KeyListStep step = AdvanceTrust(trust, document, listed);
        if (step != KeyListStep::taken && step != KeyListStep::rotated) {
            err << "KvoPublish: " << name << ": " << StepProblem(step) << "\n";
            return false;
        }
    }
    unsigned listed = 0;
    TrustState again = trust;
    if (AdvanceTrust(again, newest, listed) != KeyListStep::notNewer) {
        err << "KvoPublish: " << keylist::kCurrentFileName << " is not the same list as "
            << VersionedKeyListName(trust.version) << ", the newest version reached from the roots\n";
        return false;
    }
    return true;
}

/// The key list's expiry and the manifest's Keys and Issued; false with the problems on `err`.
bool CheckManifestTrust(const ManifestRelease& release, const TrustState& trust, std::ostream& err)
{
    bool good = true;
    if (KeyListExpired(trust, UtcNow())) {
        err << "KvoPublish: the key list (version " << trust.version << ") expired at " << trust.expires
            << ": launchers refuse every manifest it vouches for; write the next version with --key-list\n";
        good = false;
    }
    if (release.keyList > trust.version) {
        err << "KvoPublish: the manifest names key list version " << release.keyList
            << ", which the web root does not hold\n";
        good = false;
    }
    FILETIME issued{};
    if (!release.issued.empty() && !ParseUtcTime(release.issued, issued)) {
        err << "KvoPublish: the manifest's Issued is not a UTC time (Issued=\"" << release.issued << "\")\n";
        good = false;
    }
    return good;
}

}  // namespace

const char* SignatureProblem(ManifestSignatureCheck check)
{
    switch (check) {
    case ManifestSignatureCheck::verified:
        return nullptr;
    case ManifestSignatureCheck::missing:
        return "the manifest is not signed";
    case ManifestSignatureCheck::malformed:
        return "the manifest's signature comment is malformed (it must be the last thing in the file, once)";
    case ManifestSignatureCheck::invalid:
        break;
    }
    return "the manifest's signature does not match this public key (or the manifest was changed after signing)";
}

PublishStatus VerifyPublished(const PublishOptions& options, std::ostream& out, std::ostream& err)
{
    RootSet roots;
    roots.threshold = static_cast<unsigned>(options.threshold);
    for (const std::string& path : options.publicKeys) {
        PublicKey key;
        std::string keyError;
        if (!ReadKeyFile(path, kP256PublicKeySize, key, keyError)) {
            err << "KvoPublish: " << keyError << "\n";
            return kPublishBadCommandLine;
        }
        roots.keys.push_back(std::move(key));
    }
    if (!IsUsableRootSet(roots)) {
        err << "KvoPublish: the --public-key files must be one to four distinct root keys\n";
        return kPublishBadCommandLine;
    }
    const std::string webRoot = FullPathOf(options.verifyDir);
    std::string document;
    if (!ReadWholeFile(webRoot + manifest::kWebRootPath, document)) {
        err << "KvoPublish: no manifest at " << webRoot << manifest::kWebRootPath << "\n";
        return kPublishVerifyFailed;
    }

    TrustState trust = BuiltInTrust(roots);
    bool allGood = VerifyKeyChain(webRoot, trust, err);
    if (const char* problem = SignatureProblem(CheckManifestSigner(document, trust))) {
        err << "KvoPublish: " << problem
            << (trust.version > 0 ? " (the signer must be a release key of the newest key list)" : "") << "\n";
        allGood = false;
    }
    ManifestRelease release;
    std::vector<UpdateFileEntry> entries;
    if (!ReadManifestEntries(JoinBodyLines(document), release, entries)) {
        err << "KvoPublish: the manifest cannot be read as a manifest\n";
        return kPublishVerifyFailed;
    }
    if (const char* problem = ExpiryProblem(CheckManifestExpiry(release.expires, UtcNow()))) {
        err << "KvoPublish: " << problem << " (Expires=\"" << release.expires << "\")\n";
        allGood = false;
    }
    if (!CheckManifestTrust(release, trust, err))
        allGood = false;
    for (const UpdateFileEntry& entry : entries) {
        std::string path;
        Sha256Digest listed;
        Sha256Digest served;
        if (!ParseSha256Hex(entry.SHA256, listed))
            err << "KvoPublish: " << entry.FileName << ": no SHA256 in the manifest\n";
        else if (!ServedFileOf(webRoot, entry.URL, path))
            err << "KvoPublish: " << entry.FileName << ": its URL does not name a file below " << webRoot << "\n";
        else if (!HashFile(path, served))
            err << "KvoPublish: " << entry.FileName << ": missing at " << path << "\n";
        else if (served != listed)
            err << "KvoPublish: " << entry.FileName << ": " << path << " differs from the manifest's SHA256\n";
        else if (!HasListedLength(entry, path))
            err << "KvoPublish: " << entry.FileName << ": " << path << " is not the manifest's Length long\n";
        else
            continue;
        allGood = false;
    }
    if (!allGood) {
        err << "KvoPublish: verification FAILED\n";
        return kPublishVerifyFailed;
    }
    out << "verified: version " << release.version << ", signature good"
        << (trust.version > 0 ? " (key list version " + std::to_string(trust.version) + ")" : std::string())
        << (release.issued.empty() ? std::string() : ", issued " + release.issued) << ", expires " << release.expires
        << ", " << entries.size() << " file(s) match\n";
    return kPublishOk;
}
