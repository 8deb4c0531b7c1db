// KvoPublish --verify: what a release pipeline runs on the web root before it goes live.
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "framework/Internet.h"
#include "support/EcdsaP256.h"
#include "support/PathGuard.h"
#include "support/Sha256.h"
#include "tools/publish/Publisher.h"
#include "tools/publish/PublishText.h"
#include "tools/publish/ReleaseTree.h"
#include "tools/publish/SigningKey.h"
#include "update/Manifest.h"
#include "update/ManifestFetch.h"
#include "update/ManifestSignature.h"

namespace {

const char kManifestPath[] = "\\AutoUpdate\\update.xml";

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

PublishStatus VerifyPublished(const PublishOptions& options, std::ostream& out, std::ostream& err)
{
    std::vector<unsigned char> publicKey;
    std::string keyError;
    if (!ReadKeyFile(options.publicKey, kP256PublicKeySize, publicKey, keyError)) {
        err << "KvoPublish: " << keyError << "\n";
        return kPublishBadCommandLine;
    }
    const std::string webRoot = FullPathOf(options.verifyDir);
    std::ifstream source(webRoot + kManifestPath, std::ios::binary);
    if (!source) {
        err << "KvoPublish: no manifest at " << webRoot << kManifestPath << "\n";
        return kPublishVerifyFailed;
    }
    const std::string document((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());

    bool allGood = true;
    if (const char* problem = SignatureProblem(CheckManifestSignature(document, publicKey))) {
        err << "KvoPublish: " << problem << "\n";
        allGood = false;
    }
    int version = 0;
    std::vector<UpdateFileEntry> entries;
    if (!ReadManifestEntries(JoinBodyLines(document), version, entries)) {
        err << "KvoPublish: the manifest cannot be read as a manifest\n";
        return kPublishVerifyFailed;
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
        else
            continue;
        allGood = false;
    }
    if (!allGood) {
        err << "KvoPublish: verification FAILED\n";
        return kPublishVerifyFailed;
    }
    out << "verified: version " << version << ", signature good, " << entries.size() << " file(s) match\n";
    return kPublishOk;
}
