#include "update/TrustState.h"

#include <algorithm>
#include <sstream>

#include "framework/File.h"
#include "support/Base64.h"
#include "support/EcdsaP256.h"
#include "support/ReplaceFile.h"
#include "update/KeyList.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestFetch.h"
#include "update/ManifestSignature.h"

namespace {

// The kept file: one "<word> <value>" per line, the first line naming its format.
const char kFormatLine[] = "KvoTrust 1";
const char kVersionWord[] = "Version";
const char kExpiresWord[] = "Expires";
const char kThresholdWord[] = "Threshold";
const char kRootWord[] = "Root";
const char kReleaseWord[] = "Release";
const char kIssuedWord[] = "Issued";
const char kIssuedByWord[] = "IssuedBy";
const char kKnownWord[] = "Known";
const char kLineEnd[] = "\r\n";
constexpr DWORD kMaxTrustFileSize = 64 * 1024;
constexpr std::size_t kMaxNumberDigits = 9;  // every such number fits 32 bits

ULONGLONG Ticks(const FILETIME& time)
{
    return (ULONGLONG{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

void Line(std::string& text, const char* word, const std::string& value)
{
    text += std::string(word) + " " + value + kLineEnd;
}

bool ReadNumber(const std::string& text, unsigned& number)
{
    if (text.empty() || text.size() > kMaxNumberDigits || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    number = static_cast<unsigned>(std::stoul(text));
    return true;
}

bool ReadKey(const std::string& text, std::vector<PublicKey>& keys)
{
    PublicKey key;
    if (!DecodeBase64(text, key) || key.size() != kP256PublicKeySize)
        return false;
    keys.push_back(std::move(key));
    return true;
}

/// One line of the kept file into `trust`; false for a line it does not have.
bool ReadLine(const std::string& word, const std::string& value, TrustState& trust)
{
    FILETIME ignored{};
    if (word == kVersionWord)
        return ReadNumber(value, trust.version);
    if (word == kExpiresWord)
        return ParseUtcTime(trust.expires = value, ignored);
    if (word == kThresholdWord)
        return ReadNumber(value, trust.roots.threshold);
    if (word == kRootWord)
        return ReadKey(value, trust.roots.keys);
    if (word == kReleaseWord)
        return ReadKey(value, trust.releaseKeys);
    if (word == kIssuedWord)
        return ParseUtcTime(trust.issued = value, ignored);
    if (word == kKnownWord) {
        RootSet ignoredRoots;
        trust.knownRoots.push_back(value);
        return ParseRootSetText(value, ignoredRoots);
    }
    if (word == kIssuedByWord) {
        std::vector<PublicKey> keys;
        if (!ReadKey(value, keys))
            return false;
        trust.issuedBy = keys.front();
        return true;
    }
    return false;
}

}  // namespace

TrustState BuiltInTrust(const RootSet& roots)
{
    TrustState trust;
    trust.roots = roots;
    trust.knownRoots.push_back(FormatRootSetText(roots));
    return trust;
}

std::vector<PublicKey> ManifestSigners(const TrustState& trust)
{
    if (trust.version > 0)
        return trust.releaseKeys;
    return trust.roots.threshold == 1 ? trust.roots.keys : std::vector<PublicKey>();
}

bool FindManifestSigner(const TrustState& trust, const Sha256Digest& digest, const Signature& signature,
                        PublicKey& signer)
{
    for (const PublicKey& key : ManifestSigners(trust)) {
        if (VerifyP256Signature(key, digest, signature)) {
            signer = key;
            return true;
        }
    }
    return false;
}

ManifestSignatureCheck CheckManifestSigner(const std::string& document, const TrustState& trust)
{
    std::string signedPart;
    Signature signature;
    bool missing = false;
    PublicKey signer;
    if (!SplitSignedManifest(document, signedPart, signature, missing))
        return missing ? ManifestSignatureCheck::missing : ManifestSignatureCheck::malformed;
    return FindManifestSigner(trust, CSha256::Of(signedPart.data(), signedPart.size()), signature, signer)
               ? ManifestSignatureCheck::verified
               : ManifestSignatureCheck::invalid;
}

KeyListStep AdvanceTrust(TrustState& trust, const std::string& document, unsigned& listed)
{
    listed = 0;
    std::string signedPart;
    std::vector<Signature> signatures;
    bool missing = false;
    if (!SplitSignedDocument(document, keylist::kMaxSignatures, signedPart, signatures, missing))
        return missing ? KeyListStep::missing : KeyListStep::malformed;
    const Sha256Digest digest = CSha256::Of(signedPart.data(), signedPart.size());
    // The XML component reads only bytes that the roots in effect vouched for.
    if (!MeetsThreshold(trust.roots, digest, signatures))
        return KeyListStep::rootsShort;
    KeyList list;
    if (!ReadKeyListText(JoinBodyLines(signedPart), list))
        return KeyListStep::malformed;
    listed = list.version;
    if (list.version < trust.version)
        return KeyListStep::lower;
    if (list.version == trust.version)
        return KeyListStep::notNewer;
    if (list.version != trust.version + 1)
        return KeyListStep::notNext;
    const bool rotates = list.namesRoots && !SameRootSet(list.roots, trust.roots);
    // The new roots must agree too: a leaked old threshold alone cannot hand the trust to others.
    if (rotates && !MeetsThreshold(list.roots, digest, signatures))
        return KeyListStep::newRootsShort;
    trust.version = list.version;
    trust.expires = list.expires;
    trust.releaseKeys = list.releaseKeys;
    if (rotates) {
        trust.roots = list.roots;
        trust.knownRoots.push_back(FormatRootSetText(list.roots));
    }
    // A manifest issued by a key no longer trusted says nothing of what may come next: whoever
    // held that key may have issued it far in the future.
    if (!HasKey(trust.releaseKeys, trust.issuedBy)) {
        trust.issued.clear();
        trust.issuedBy.clear();
    }
    return rotates ? KeyListStep::rotated : KeyListStep::taken;
}

bool KeyListExpired(const TrustState& trust, const FILETIME& now)
{
    FILETIME expires{};
    return trust.version > 0 && (!ParseUtcTime(trust.expires, expires) || Ticks(expires) < Ticks(now));
}

std::string FormatTrustText(const TrustState& trust)
{
    std::string text = std::string(kFormatLine) + kLineEnd;
    Line(text, kVersionWord, std::to_string(trust.version));
    if (!trust.expires.empty())
        Line(text, kExpiresWord, trust.expires);
    Line(text, kThresholdWord, std::to_string(trust.roots.threshold));
    for (const PublicKey& key : trust.roots.keys)
        Line(text, kRootWord, EncodeBase64(key));
    for (const PublicKey& key : trust.releaseKeys)
        Line(text, kReleaseWord, EncodeBase64(key));
    for (const std::string& known : trust.knownRoots)
        Line(text, kKnownWord, known);
    if (!trust.issued.empty()) {
        Line(text, kIssuedWord, trust.issued);
        Line(text, kIssuedByWord, EncodeBase64(trust.issuedBy));
    }
    return text;
}

bool ParseTrustText(const std::string& text, TrustState& trust)
{
    std::istringstream lines(text);
    std::string line;
    if (!std::getline(lines, line) || line != std::string(kFormatLine) + "\r")
        return false;
    TrustState read;
    while (std::getline(lines, line)) {
        if (line.empty() || line.back() != '\r')
            return false;
        line.pop_back();
        const std::size_t space = line.find(' ');
        if (space == std::string::npos || !ReadLine(line.substr(0, space), line.substr(space + 1), read))
            return false;
    }
    if (!IsUsableRootSet(read.roots) || (read.version > 0 && read.releaseKeys.empty()) ||
        read.issued.empty() != read.issuedBy.empty())
        return false;
    trust = std::move(read);
    return true;
}

TrustState LoadTrust(const std::string& moduleDir, const RootSet& builtIn, bool& unreadable)
{
    unreadable = false;
    const std::string path = moduleDir + kTrustFileName;
    kvo::CFile file;
    if (!file.Open(path.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyWrite))
        return BuiltInTrust(builtIn);
    TrustState kept;
    try {
        const ULONGLONG length = file.GetLength();
        std::string text(static_cast<std::size_t>(length < kMaxTrustFileSize ? length : 0), '\0');
        if (!text.empty() && file.Read(&text[0], static_cast<unsigned>(text.size())) == text.size() &&
            ParseTrustText(text, kept)) {
            if (std::any_of(kept.knownRoots.begin(), kept.knownRoots.end(), [&](const std::string& known) {
                    RootSet roots;
                    return ParseRootSetText(known, roots) && SameRootSet(roots, builtIn);
                }))
                return kept;
            TrustState fresh = BuiltInTrust(builtIn);
            fresh.issued = kept.issued;
            fresh.issuedBy = kept.issuedBy;
            return fresh;
        }
    } catch (const kvo::CFileException&) {
    }
    unreadable = true;
    return BuiltInTrust(builtIn);
}

DWORD SaveTrust(const std::string& moduleDir, const TrustState& trust)
{
    const std::string text = FormatTrustText(trust);
    CTempFileBeside file(moduleDir + kTrustFileName);
    kvo::CFileException error(kvo::CFileException::none, 0, file.TargetPath());
    if (!file.Open(&error))
        return static_cast<DWORD>(error.m_lOsError);
    try {
        file.File().Write(text.data(), static_cast<unsigned>(text.size()));
        // The kept trust must survive a power cut whole: it decides what this launcher accepts.
        file.File().Flush();
    } catch (const kvo::CFileException& failed) {
        return static_cast<DWORD>(failed.m_lOsError);
    }
    return file.Commit(&error) ? ERROR_SUCCESS : static_cast<DWORD>(error.m_lOsError);
}
