// KvoPublish --verify: what a release pipeline runs on the web root before it goes live.
#include <windows.h>

#include <algorithm>

#include "framework/Internet.h"
#include "support/EcdsaP256.h"
#include "support/PathGuard.h"
#include "support/Sha256.h"
#include "tools/publish/Publisher.h"
#include "tools/publish/PublishText.h"
#include "tools/publish/ReleaseTree.h"
#include "tools/publish/SigningKey.h"
#include "update/Manifest.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestFetch.h"
#include "update/ManifestSignature.h"

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
    std::vector<unsigned char> publicKey;
    std::string keyError;
    if (!ReadKeyFile(options.publicKey, kP256PublicKeySize, publicKey, keyError)) {
        err << "KvoPublish: " << keyError << "\n";
        return kPublishBadCommandLine;
    }
    const std::string webRoot = FullPathOf(options.verifyDir);
    std::string document;
    if (!ReadWholeFile(webRoot + manifest::kWebRootPath, document)) {
        err << "KvoPublish: no manifest at " << webRoot << manifest::kWebRootPath << "\n";
        return kPublishVerifyFailed;
    }

    bool allGood = true;
    if (const char* problem = SignatureProblem(CheckManifestSignature(document, publicKey))) {
        err << "KvoPublish: " << problem << "\n";
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
    out << "verified: version " << release.version << ", signature good, expires " << release.expires << ", "
        << entries.size() << " file(s) match\n";
    return kPublishOk;
}
