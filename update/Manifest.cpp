#include "update/Manifest.h"

#include <objbase.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "framework/Internet.h"
#include "support/Sha256.h"
#include "support/VorelXML.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestFetch.h"
#include "update/ManifestFormat.h"
#include "update/ManifestTrust.h"
#include "update/Rollout.h"
#include "update/TrustedKeys.h"
#include "update/UpdateEngine.h"

namespace {

const std::string kProductPattern = manifest::kProduct;
const std::string kMirrorPattern = std::string(manifest::kProduct) + "/" + manifest::kMirror;
const std::string kFilePattern = std::string(manifest::kProduct) + "//" + manifest::kFile;
constexpr int kDecimalBase = 10;

const char kFileHashMissing[] = "清单文件缺少SHA256  ";
const char kManifestExpired[] = "清单已过期  ";
const char kManifestExpiryInvalid[] = "清单有效期无效  ";
const char kExpiresInfix[] = "  有效期至 ";
const char kClockInfix[] = "  本机时钟 ";
const char kRolloutInvalid[] = "清单Rollout无效  ";
const char kMirrorInvalid[] = "清单镜像地址无效  ";

using Children = std::vector<XmlChild>;
using Attributes = std::vector<std::pair<std::string, std::string>>;

/// The text of the first child element `name`, as the XML component's query for it finds it.
const std::string& ChildText(const Children& children, const char* name)
{
    static const std::string kNone;
    const auto found = std::find_if(children.begin(), children.end(),
                                    [&](const XmlChild& child) { return child.name == name; });
    return found == children.end() ? kNone : found->text;
}

const std::string& AttributeText(const Attributes& attributes, const char* name)
{
    static const std::string kNone;
    const auto found = std::find_if(attributes.begin(), attributes.end(),
                                    [&](const Attributes::value_type& attribute) { return attribute.first == name; });
    return found == attributes.end() ? kNone : found->second;
}

std::uint32_t ManifestOffset(const std::string& text)
{
    return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, kDecimalBase));
}

/// The Patch and Delta elements of a File, and its Index.
void ReadShortcuts(const Children& children, UpdateFileEntry& entry)
{
    entry.Index = ChildText(children, manifest::kIndex);
    for (const XmlChild& child : children) {
        if (child.name == manifest::kIndex && entry.Directory.Length == 0) {
            entry.Directory.Offset = ManifestOffset(AttributeText(child.attributes, manifest::kOffset));
            entry.Directory.Length = ManifestOffset(AttributeText(child.attributes, manifest::kLength));
            entry.Directory.SHA256 = AttributeText(child.attributes, manifest::kSha256);
        }
        if (child.name == manifest::kPatch) {
            FilePatch patch;
            patch.Source = AttributeText(child.attributes, manifest::kSource);
            patch.From = AttributeText(child.attributes, manifest::kFrom);
            patch.Length = ManifestNumber(AttributeText(child.attributes, manifest::kLength));
            patch.SHA256 = AttributeText(child.attributes, manifest::kSha256);
            patch.URL = child.text;
            entry.Patches.push_back(std::move(patch));
        } else if (child.name == manifest::kDelta) {
            PackageDelta delta;
            delta.From = AttributeText(child.attributes, manifest::kFrom);
            delta.Offset = ManifestOffset(AttributeText(child.attributes, manifest::kOffset));
            delta.Length = ManifestOffset(AttributeText(child.attributes, manifest::kLength));
            delta.SHA256 = AttributeText(child.attributes, manifest::kSha256);
            for (std::size_t start = 0; start < child.text.size();) {
                const std::size_t end = std::min(child.text.find(manifest::kRemovedSeparator, start), child.text.size());
                if (end > start)
                    delta.Removed.push_back(child.text.substr(start, end - start));
                start = end + 1;
            }
            entry.Deltas.push_back(std::move(delta));
        }
    }
}

/// One File element; false when its FileName is empty, in which case nothing else is kept.
bool ReadFileEntry(CVorelXML& xml, UpdateFileEntry& entry)
{
    const Children children = xml.GetChildElements();
    entry.FileName = ChildText(children, manifest::kFileName);
    if (entry.FileName.empty())
        return false;
    entry.FileVersion = ChildText(children, manifest::kFileVersion);
    entry.Length = ManifestNumber(ChildText(children, manifest::kLength));
    entry.LocalPath = ChildText(children, manifest::kLocalPath);
    entry.URL = ChildText(children, manifest::kUrl);
    entry.FileDateHigh = ManifestNumber(ChildText(children, manifest::kFileDateHigh));
    entry.FileDateLow = ManifestNumber(ChildText(children, manifest::kFileDateLow));
    entry.Register = ManifestFlag(ChildText(children, manifest::kRegister));
    entry.ZipFile = ManifestFlag(ChildText(children, manifest::kZipFile));
    entry.ForceOverwrite = ManifestFlag(ChildText(children, manifest::kForceOverwrite));
    entry.Execute = ManifestFlag(ChildText(children, manifest::kExecute));
    entry.SHA256 = ChildText(children, manifest::kSha256);
    ReadShortcuts(children, entry);
    return true;
}

/// A signature that leaves a file's bytes unchecked protects nothing: all or none.
bool EveryFileHashed(CUpdateEngine& engine, const std::vector<UpdateFileEntry>& entries)
{
    Sha256Digest ignored;
    const auto unchecked = std::find_if(entries.begin(), entries.end(),
                                        [&](const UpdateFileEntry& entry) { return !ParseSha256Hex(entry.SHA256, ignored); });
    if (unchecked == entries.end())
        return true;
    engine.m_log.WriteLog((kFileHashMissing + unchecked->FileName).c_str());
    return false;
}

/// A verified manifest that has not lapsed; the refusal is logged with the host, the expiry and the
/// machine's clock, so that support can tell a replayed manifest from a wrong clock.
bool IsFresh(CUpdateEngine& engine, const ManifestRelease& release, const std::string& url)
{
    const FILETIME now = UtcNow();
    const ManifestExpiry expiry = CheckManifestExpiry(release.expires, now);
    if (expiry == ManifestExpiry::fresh)
        return true;
    engine.m_log.WriteLog(((expiry == ManifestExpiry::expired ? kManifestExpired : kManifestExpiryInvalid) + url +
                           kExpiresInfix + release.expires + kClockInfix + FormatUtcTime(now))
                              .c_str());
    return false;
}

/// The Rollout and the Mirrors every launcher reads: a manifest that gets them wrong is refused as
/// malformed, so that a mistake in them never spreads a release wider or elsewhere than meant.
/// `rollout` receives the share the release reaches.
bool HasValidRelease(CUpdateEngine& engine, const ManifestRelease& release, const std::string& url, int& rollout)
{
    rollout = kFullRollout;
    if (!release.rollout.empty() && !ParseRollout(release.rollout, rollout)) {
        engine.m_log.WriteLog((kRolloutInvalid + url + "  Rollout=" + release.rollout).c_str());
        return false;
    }
    for (const std::string& mirror : release.mirrors) {
        kvo::ParsedUrl parts;
        if (!kvo::ParseURL(mirror, parts) || parts.server.empty() ||
            (parts.scheme != INTERNET_SCHEME_HTTP && parts.scheme != INTERNET_SCHEME_HTTPS)) {
            engine.m_log.WriteLog((kMirrorInvalid + url + "  " + mirror).c_str());
            return false;
        }
    }
    return true;
}

/// The update state from a manifest that was read and accepted.
void TakeManifest(CUpdateEngine& engine, const ManifestRelease& release, int rollout,
                  const std::vector<UpdateFileEntry>& entries)
{
    engine.m_nServerVer = release.version;
    engine.m_nRollout = rollout;
    engine.m_mirrors = release.mirrors;
    engine.m_files.insert(engine.m_files.end(), entries.begin(), entries.end());
    const int count = static_cast<int>(engine.m_files.size());
    engine.m_nFileCount = count;
    engine.m_nFilesLeft = count;
}

}  // namespace

int ManifestNumber(const std::string& text)
{
    // long is 32 bits on this platform, and strtol clamps where atoi's result is undefined.
    return static_cast<int>(std::strtol(text.c_str(), nullptr, kDecimalBase));
}

bool ManifestFlag(const std::string& text)
{
    return text != manifest::kFlagOff;
}

bool ReadManifestEntries(const std::string& text, ManifestRelease& release, std::vector<UpdateFileEntry>& entries)
{
    // Each parse adds one initialisation on the thread; the process ends soon after start-up. The
    // DOM component runs in either kind of apartment; a multithreaded one spares the hidden window
    // that a single-threaded apartment makes, which costs every start (a thread already in a
    // single-threaded apartment stays in it, which serves as well).
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        CVorelXML xml;
        if (FAILED(xml.CreateDocument()))
            xml.m_bCreateFailed = 1;  // LoadXml then raises, and the caller tries the next host
        if (!xml.LoadXml(text.c_str()))
            return false;
        xml.SelectNodes(kProductPattern.c_str());
        if (!xml.NextNode())
            return false;
        xml.GetAttribute(manifest::kProductName);
        ManifestNumber(xml.GetAttribute(manifest::kFileCount));  // not checked against the File count
        ManifestRelease read;
        read.version = ManifestNumber(xml.GetAttribute(manifest::kVersion));
        read.expires = xml.GetAttribute(manifest::kExpires);
        read.rollout = xml.GetAttribute(manifest::kRollout);
        read.issued = xml.GetAttribute(manifest::kIssued);
        read.keyList = static_cast<unsigned>(std::max(0, ManifestNumber(xml.GetAttribute(manifest::kKeyList))));
        xml.SelectNodes(kMirrorPattern.c_str());
        while (xml.NextNode())
            read.mirrors.push_back(xml.GetText());

        std::vector<UpdateFileEntry> files;
        xml.SelectNodes(kFilePattern.c_str());
        while (xml.NextNode()) {
            UpdateFileEntry entry;
            if (ReadFileEntry(xml, entry))
                files.push_back(std::move(entry));
        }
        release = std::move(read);
        entries = std::move(files);
        return true;
    } catch (const CComError&) {
        // The XML component could not be had or refused a step: this host's manifest is unusable.
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

namespace {

/// Reads a manifest and takes it when every check passes: those of every launcher, and for a
/// `trust` (a signed launcher's), what the signature vouches for.
bool ReadAndTake(CUpdateEngine& engine, const std::string& text, const std::string& url, bool verified,
                 CManifestTrust* trust)
{
    // Entries are gathered first, so a failure half-way leaves the list as it was.
    ManifestRelease release;
    std::vector<UpdateFileEntry> entries;
    if (!ReadManifestEntries(text, release, entries))
        return false;
    // What the signature vouches for is checked on the verified document.
    if (verified && (!EveryFileHashed(engine, entries) || !IsFresh(engine, release, url)))
        return false;
    if (trust && !trust->Vouches(release))
        return false;
    int rollout = kFullRollout;
    if (!HasValidRelease(engine, release, url, rollout))
        return false;
    TakeManifest(engine, release, rollout, entries);
    if (trust)
        trust->Accept(release);
    return true;
}

}  // namespace

bool ReadManifestText(CUpdateEngine& engine, const std::string& text, const std::string& url, bool verified)
{
    return ReadAndTake(engine, text, url, verified, nullptr);
}

bool ParseManifest(CUpdateEngine& engine, std::string url)
{
    return ParseManifest(engine, std::move(url), CTrustedKeys::BuiltIn());
}

bool ParseManifest(CUpdateEngine& engine, std::string url, const CTrustedKeys& keys)
{
    std::string body;
    if (!FetchManifest(engine, url, body))
        return false;
    if (!keys.RequireSignature())
        return ReadManifestText(engine, JoinBodyLines(body), url);
    // The bytes are checked before the XML component ever sees them.
    CManifestTrust trust(engine, url, keys.Roots());
    return trust.Authenticate(body) && ReadAndTake(engine, JoinBodyLines(body), url, true, &trust);
}
