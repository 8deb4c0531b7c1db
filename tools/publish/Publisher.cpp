#include "tools/publish/Publisher.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <new>
#include <set>

#include "framework/File.h"
#include "framework/Internet.h"
#include "support/EcdsaP256.h"
#include "support/ReplaceFile.h"
#include "support/Sha256.h"
#include "tools/publish/ManifestText.h"
#include "tools/publish/PublishDelta.h"
#include "tools/publish/PublishPlan.h"
#include "tools/publish/PublishText.h"
#include "tools/publish/PublishTrust.h"
#include "tools/publish/ReleaseTree.h"
#include "tools/publish/SigningKey.h"
#include "tools/publish/ZipWriter.h"
#include "support/Base64.h"
#include "update/FileCheck.h"
#include "update/LauncherCheck.h"
#include "update/Leftovers.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestSignature.h"
#include "update/PackageInstall.h"

namespace {

const char kLauncherFileName[] = "KvoLauncher.exe";
constexpr std::size_t kCopyBufferSize = 64 * 1024;
/// 1980-01-01 00:00, the earliest time a ZIP entry can carry.
constexpr std::uint32_t kEarliestDosDateTime = 0x00210000;
constexpr unsigned kDosDateShift = 16;
/// Attributes a package passes on; read-only is dropped so that the next update can replace it.
constexpr DWORD kPackagedAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr unsigned kHighWordBits = 32;

/// Where the files go: the base URL split into what the manifest says and where --out keeps it.
struct ServedLocation {
    std::string baseUrl;    ///< ends in "/"
    std::string outFolder;  ///< --out + the URL's path, "\"-separated, ends in "\"
    std::vector<std::string> mirrors;  ///< the base and every --mirror, each ending in "/"; none without --mirror
};

/// `url` as a base under which files are served (ending in "/"), and its path; false with the
/// reason in `error` when it is not an http or https address with a plain path.
bool CheckServedAddress(const char* option, const std::string& url, std::string& base, std::string& path,
                        std::string& error)
{
    kvo::ParsedUrl parts;
    if (!kvo::ParseURL(url, parts) || (parts.scheme != INTERNET_SCHEME_HTTP && parts.scheme != INTERNET_SCHEME_HTTPS) ||
        parts.server.empty()) {
        error = std::string(option) + " must be an http:// or https:// address, not '" + url + "'";
        return false;
    }
    path = parts.object;
    if (!IsPlainUrlPath(path) || path.find("/../") != std::string::npos || path.find("/./") != std::string::npos) {
        error = "the path of " + std::string(option) + " may hold only letters, digits, '-', '_', '.', '~' and '/', "
                "and no '.' or '..' segment: " + path;
        return false;
    }
    base = url;
    if (path.back() != '/') {
        path.push_back('/');
        base.push_back('/');
    }
    return true;
}

bool LocateBaseUrl(const PublishOptions& options, const std::string& outDir, ServedLocation& location,
                   std::string& error)
{
    std::string path;
    if (!CheckServedAddress("--base-url", options.baseUrl, location.baseUrl, path, error))
        return false;
    location.mirrors.push_back(location.baseUrl);
    for (const std::string& mirror : options.mirrors) {
        std::string mirrorBase;
        std::string ignored;
        if (!CheckServedAddress("--mirror", mirror, mirrorBase, ignored, error))
            return false;
        location.mirrors.push_back(mirrorBase);
    }
    if (options.mirrors.empty())
        location.mirrors.clear();
    std::string folder = path.substr(1);
    std::replace(folder.begin(), folder.end(), '/', '\\');
    location.outFolder = outDir + "\\" + folder;
    return true;
}

/// The DOS date and time (local time, as the launcher reads it back) of a file time.
std::uint32_t DosDateTimeOf(const FILETIME& time)
{
    FILETIME local{};
    WORD date = 0;
    WORD clock = 0;
    if (!::FileTimeToLocalFileTime(&time, &local) || !::FileTimeToDosDateTime(&local, &date, &clock))
        return kEarliestDosDateTime;
    const std::uint32_t value = static_cast<std::uint32_t>(date) << kDosDateShift | clock;
    return std::max(value, kEarliestDosDateTime);
}

/// Copies `source` to `target` through a temporary file; returns the bytes copied and their hash.
std::uint64_t CopyInPlace(const std::string& source, const std::string& target, Sha256Digest& digest)
{
    kvo::CFile input;
    kvo::CFileException error(kvo::CFileException::none, 0, source);
    if (!input.Open(source.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyWrite, &error))
        throw error;
    CTempFileBeside output(target);
    OpenBeside(output);
    const auto buffer = std::make_unique<char[]>(kCopyBufferSize);
    std::uint64_t copied = 0;
    CSha256 hash;
    while (const unsigned got = input.Read(buffer.get(), kCopyBufferSize)) {
        output.File().Write(buffer.get(), got);
        hash.Update(buffer.get(), got);
        copied += got;
    }
    CommitBeside(output);
    digest = hash.Finish();
    return copied;
}

/// Size and last-write time of the file at `path`.
void StatFile(const std::string& path, std::uint64_t& size, FILETIME& lastWrite)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        throw kvo::CFileException(kvo::CFileException::generic, static_cast<long>(::GetLastError()), path);
    size = static_cast<std::uint64_t>(data.nFileSizeHigh) << kHighWordBits | data.nFileSizeLow;
    lastWrite = data.ftLastWriteTime;
}

/// Adds `member` of a package to `zip`.
void AddMember(CZipWriter& zip, const PackagePlan& plan, const ReleaseItem& member)
{
    if (member.isDirectory) {
        zip.AddDirectory(plan.EntryName(member), DosDateTimeOf(member.lastWrite));
        return;
    }
    kvo::CFile input;
    kvo::CFileException error(kvo::CFileException::none, 0, member.fullPath);
    if (!input.Open(member.fullPath.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyWrite, &error))
        throw error;
    const auto attributes =
        static_cast<std::uint16_t>((member.attributes & kPackagedAttributes) | CZipWriter::kArchiveAttribute);
    zip.AddFile(plan.EntryName(member), input, DosDateTimeOf(member.lastWrite), attributes);
}

/// Writes the package of `plan` to `target`; returns its size and sets the entry's SHA256, Index
/// and Directory. With earlier releases, the files that changed since them are laid out last, and
/// the entry lists their ranges.
std::uint64_t WritePackage(const PackagePlan& plan, const std::string& target,
                           const std::vector<PreviousRelease>& previous, UpdateFileEntry& entry)
{
    CTempFileBeside output(target);
    OpenBeside(output);
    CZipWriter zip(output.File());
    zip.AddDirectory(plan.EntryName(plan.folder), DosDateTimeOf(plan.folder.lastWrite));
    PackageOrder order;
    std::vector<std::uint32_t> offsets;
    if (previous.empty()) {
        for (const ReleaseItem& member : plan.members)
            AddMember(zip, plan, member);
    } else {
        order = OrderPackage(plan, previous);
        for (const ReleaseItem* folder : order.folders)
            AddMember(zip, plan, *folder);
        for (const ReleaseItem* file : order.files) {
            offsets.push_back(static_cast<std::uint32_t>(output.File().GetLength()));
            AddMember(zip, plan, *file);
        }
    }
    const auto dataEnd = static_cast<std::uint32_t>(output.File().GetLength());
    zip.Finish();
    CommitBeside(output);
    std::uint64_t size = 0;
    Sha256Digest digest;
    if (!HashFile(target, digest))
        throw kvo::CFileException(kvo::CFileException::generic, static_cast<long>(::GetLastError()), target);
    entry.SHA256 = Sha256Hex(digest);
    if (previous.empty())
        order.index = IndexOfPackage(plan);
    entry.Index = Sha256Hex(PackageIndexHash(order.index));
    FILETIME ignored{};
    StatFile(target, size, ignored);
    if (size <= static_cast<std::uint64_t>(INT_MAX))
        AddPackageDeltas(order, offsets, dataEnd, target, static_cast<std::uint32_t>(size), entry);
    return size;
}

void SetFileDate(UpdateFileEntry& entry, const FILETIME& time)
{
    entry.FileDateHigh = static_cast<int>(time.dwHighDateTime);
    entry.FileDateLow = static_cast<int>(time.dwLowDateTime);
}

/// The manifest entry of a file at `components` below the installation.
UpdateFileEntry MakeEntry(const std::vector<std::string>& components, const ServedLocation& location)
{
    UpdateFileEntry entry;
    entry.FileName = JoinComponents(components, '\\');
    const std::size_t lastSeparator = entry.FileName.rfind('\\');
    entry.LocalPath = lastSeparator == std::string::npos ? std::string() : entry.FileName.substr(0, lastSeparator + 1);
    std::string urlPath;
    UrlPathOf(components, urlPath);  // every name was checked by the plan
    entry.URL = location.baseUrl + urlPath;
    entry.Register = false;
    entry.ZipFile = false;
    entry.ForceOverwrite = true;
    entry.Execute = false;
    return entry;
}

std::vector<std::string> PackageComponents(const PackagePlan& package)
{
    std::vector<std::string> components = package.folder.components;
    components.back() = package.FileName().substr(package.FileName().rfind('\\') + 1);
    return components;
}

/// Everything the plan is checked for beyond names: URLs of every name, paths of the layout.
void CheckLayout(const PublishPlan& plan, const ServedLocation& location, const std::string& manifestPath,
                 std::vector<std::string>& errors)
{
    std::vector<std::vector<std::string>> published;
    for (const ReleaseItem& file : plan.files)
        published.push_back(file.components);
    for (const PackagePlan& package : plan.packages)
        published.push_back(PackageComponents(package));
    for (const auto& components : published) {
        std::string urlPath;
        const std::string name = JoinComponents(components, '\\');
        if (!UrlPathOf(components, urlPath))
            errors.push_back(name + ": not valid text in the system's code page");
        if (EqualsNoCase(location.outFolder + name, manifestPath))
            errors.push_back(name + ": would be served where the manifest is; choose another --base-url");
    }
}

/// Why the launcher of the release must not replace the players' launchers, or "" when it may:
/// it must be the 32-bit Windows program they run, and trust the roots in effect (none when the
/// manifest is not signed), or every later manifest would be refused.
std::string LauncherRefusal(const ReleaseItem& file, const std::vector<unsigned char>& signingKey,
                            const PublishedKeys& keys)
{
    LauncherImage image;
    if (!ReadLauncherImage(file.fullPath, image) || image.kind.magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
        image.kind.machine != IMAGE_FILE_MACHINE_I386 || image.kind.subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI)
        return std::string(kLauncherFileName) + ": not a 32-bit Windows program (PE32, i386, GUI); the players' "
                                                "launchers could not start it";
    return LauncherTrustRefusal(image, signingKey, keys);
}

/// The refusal of the release's own launcher, when it is published.
void CheckPublishedLauncher(const PublishPlan& plan, const std::vector<unsigned char>& signingKey,
                            const PublishedKeys& keys, std::vector<std::string>& errors)
{
    for (const ReleaseItem& file : plan.files) {
        if (file.components.size() == 1 && EqualsNoCase(file.components.front(), kLauncherFileName)) {
            const std::string refusal = LauncherRefusal(file, signingKey, keys);
            if (!refusal.empty())
                errors.push_back(refusal);
        }
    }
}

/// The places of a publish: the release, the web root, where its files go and its manifest.
struct PublishPlaces {
    std::string releaseDir;
    std::string outDir;
    ServedLocation location;
    std::string manifestPath;
};

/// Checks the folders and the base URL; false with the reason on `err`.
bool LocatePublish(const PublishOptions& options, PublishPlaces& places, std::ostream& err)
{
    places.releaseDir = FullPathOf(options.releaseDir);
    places.outDir = FullPathOf(options.outDir);
    const DWORD releaseAttributes = ::GetFileAttributesA(places.releaseDir.c_str());
    if (places.releaseDir.empty() || releaseAttributes == INVALID_FILE_ATTRIBUTES ||
        !(releaseAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        err << "KvoPublish: the release folder does not exist: " << options.releaseDir << "\n";
        return false;
    }
    if (places.outDir.empty() || IsSameOrBelow(places.outDir, places.releaseDir) ||
        IsSameOrBelow(places.releaseDir, places.outDir)) {
        err << "KvoPublish: --out must be a folder outside the release (and not holding it)\n";
        return false;
    }
    std::string urlError;
    if (!LocateBaseUrl(options, places.outDir, places.location, urlError)) {
        err << "KvoPublish: " << urlError << "\n";
        return false;
    }
    places.manifestPath = places.outDir + manifest::kWebRootPath;
    return true;
}

/// The key lists of the web root `outDir`; false with the reason on `err`.
bool ReadWebRootKeys(const std::string& outDir, PublishedKeys& keys, std::ostream& err)
{
    std::string error;
    if (ReadPublishedKeys(outDir, keys, error))
        return true;
    err << "KvoPublish: " << error << "\n";
    return false;
}

/// The key pair of --sign-key (none without it); false with the reason on `err`.
bool ReadSigningKey(const PublishOptions& options, std::vector<unsigned char>& key, std::ostream& err)
{
    std::string keyError;
    if (options.signKey.empty() || ReadKeyFile(options.signKey, kP256PrivateKeySize, key, keyError))
        return true;
    err << "KvoPublish: " << keyError << "\n";
    return false;
}

/// Copies every plain file and writes every package under the web root; their manifest entries,
/// sorted by name.
std::vector<UpdateFileEntry> WriteServedFiles(const PublishPlan& plan, const ServedLocation& location,
                                              const std::vector<PreviousRelease>& previous, std::ostream& err,
                                              bool& tooLarge)
{
    std::vector<UpdateFileEntry> entries;
    tooLarge = false;
    std::set<std::string> newNames;
    for (const ReleaseItem& file : plan.files)
        newNames.insert(UpperCased(file.RelativeName()));
    for (const ReleaseItem& file : plan.files) {
        UpdateFileEntry entry = MakeEntry(file.components, location);
        Sha256Digest digest;
        entry.Length = static_cast<int>(CopyInPlace(file.fullPath, location.outFolder + entry.FileName, digest));
        entry.SHA256 = Sha256Hex(digest);
        AddFilePatches(file, digest, previous, newNames, {location.baseUrl, location.outFolder}, entry);
        std::string version;
        if (GetFileVersionString(file.fullPath, version) >= 0)
            entry.FileVersion = version;
        SetFileDate(entry, file.lastWrite);
        entries.push_back(entry);
    }
    for (const PackagePlan& package : plan.packages) {
        UpdateFileEntry entry = MakeEntry(PackageComponents(package), location);
        const std::string target = location.outFolder + entry.FileName;
        const std::uint64_t size = WritePackage(package, target, previous, entry);
        if (size > static_cast<std::uint64_t>(INT_MAX)) {
            err << "KvoPublish: " << entry.FileName << " came out 2 GiB or larger, which the launcher cannot "
                << "download; split the folder into several packages\n";
            tooLarge = true;
            return entries;
        }
        entry.Length = static_cast<int>(size);
        entry.ZipFile = true;
        std::uint64_t ignored = 0;
        FILETIME written{};
        StatFile(target, ignored, written);
        SetFileDate(entry, written);
        entries.push_back(entry);
    }
    std::sort(entries.begin(), entries.end(),
              [](const UpdateFileEntry& a, const UpdateFileEntry& b) { return a.FileName < b.FileName; });
    return entries;
}

/// Stamps `document` with its Issued time and key list and signs it with `key` (when there is
/// one) as its very last step, and writes it to `path` through a temporary file: the servers never
/// see a half-written manifest. False with the reason on `err`; the previous manifest then stays.
bool WriteManifest(std::string document, const std::vector<unsigned char>& key, const PublishedKeys& keys,
                   const std::string& path, const std::string& keyName, std::ostream& err)
{
    if (!key.empty()) {
        if (!StampSignedManifest(document, keys)) {
            err << "KvoPublish: " << path << " has no Product element; publish it anew\n";
            return false;
        }
        std::string signature;
        if (!SignManifest(document, key, signature)) {
            err << "KvoPublish: the system could not sign with " << keyName << "\n";
            return false;
        }
        document += signature;
    }
    WriteFileInPlace(path, document);
    return true;
}

/// The patches and changed ranges of an entry, as the summary shows them.
std::string ShortcutSummary(const UpdateFileEntry& entry)
{
    std::string summary;
    for (const FilePatch& patch : entry.Patches)
        summary += "  patch from " + patch.Source + " " + std::to_string(patch.Length) + " bytes";
    for (const PackageDelta& delta : entry.Deltas)
        summary += "  changed range " + std::to_string(delta.Length) + " bytes";
    return summary;
}

/// What went wrong with the files of a publish, said the same way for every use.
PublishStatus ReportWriteFailure(std::ostream& err)
{
    err << "KvoPublish: the manifest was not written; the update servers keep the previous one\n";
    return kPublishWriteFailed;
}

}  // namespace

PublishStatus Publish(const PublishOptions& options, std::ostream& out, std::ostream& err)
{
    PublishPlaces places;
    std::vector<unsigned char> signingKey;
    PublishedKeys keys;
    if (!LocatePublish(options, places, err) || !ReadSigningKey(options, signingKey, err) ||
        !ReadWebRootKeys(places.outDir, keys, err))
        return kPublishBadCommandLine;
    try {
        const PublishPlan plan = PlanRelease(ScanReleaseTree(places.releaseDir), options);
        std::vector<std::string> errors = plan.errors;
        CheckLayout(plan, places.location, places.manifestPath, errors);
        CheckPublishedLauncher(plan, signingKey, keys, errors);
        const std::string keyRefusal = SigningKeyRefusal(signingKey, keys);
        if (!keyRefusal.empty())
            errors.push_back(keyRefusal);
        for (const std::string& note : plan.notes)
            err << "note: " << note << "\n";
        if (!errors.empty()) {
            for (const std::string& error : errors)
                err << "KvoPublish: refused: " << error << "\n";
            err << "KvoPublish: nothing was written\n";
            return kPublishRefused;
        }
        bool tooLarge = false;
        const std::vector<PreviousRelease> previous = ScanPreviousReleases(options.previous);
        const std::vector<UpdateFileEntry> entries = WriteServedFiles(plan, places.location, previous, err, tooLarge);
        // A signed manifest lapses: it is renewed with --refresh where the key lives.
        const ManifestProduct product{options.productName, options.version,
                                      signingKey.empty() ? std::string() : ExpiryInDays(options.expiresDays),
                                      options.rollout, places.location.mirrors};
        if (tooLarge || !WriteManifest(FormatManifest(product, entries), signingKey, keys, places.manifestPath,
                                       options.signKey, err))
            return ReportWriteFailure(err);
        for (const UpdateFileEntry& entry : entries)
            out << "  " << entry.FileName << "  " << (entry.FileVersion.empty() ? "-" : entry.FileVersion) << "  "
                << entry.Length << " bytes" << (entry.ZipFile ? "  (package)" : "") << ShortcutSummary(entry) << "\n";
        out << "published version " << options.version << ": " << plan.files.size() << " file(s), "
            << plan.packages.size() << " package(s)\n"
            << (options.rollout == PublishOptions::kNoRollout
                    ? std::string()
                    : "rollout: " + std::to_string(options.rollout) + " % of the installations\n")
            << "manifest: " << places.manifestPath
            << (signingKey.empty() ? " (not signed)" : " (signed, expires " + product.expires + ")") << "\n"
            << "serve " << places.outDir << " as the web root of the update hosts\n";
        return kPublishOk;
    } catch (const kvo::CFileException& error) {
        err << "KvoPublish: " << error.m_strFileName << ": system error " << error.m_lOsError << "\n";
    } catch (const kvo::CException& error) {
        err << "KvoPublish: " << error.what() << "\n";
    } catch (const std::bad_alloc&) {
        err << "KvoPublish: out of memory\n";
    }
    return ReportWriteFailure(err);
}

PublishStatus RefreshPublished(const PublishOptions& options, std::ostream& out, std::ostream& err)
{
    std::vector<unsigned char> signingKey;
    PublishedKeys keys;
    if (!ReadSigningKey(options, signingKey, err) || !ReadWebRootKeys(FullPathOf(options.refreshDir), keys, err))
        return kPublishBadCommandLine;
    const std::string path = FullPathOf(options.refreshDir) + manifest::kWebRootPath;
    std::string document;
    if (!ReadWholeFile(path, document)) {
        err << "KvoPublish: no manifest at " << path << "\n";
        return kPublishBadCommandLine;
    }
    // Only what this key, or a release key of the web root's key lists, signed is signed again: a
    // refresh must never vouch for a copy that someone else wrote or changed. An expired manifest
    // is what a refresh is for.
    const std::string keyRefusal = SigningKeyRefusal(signingKey, keys);
    if (!keyRefusal.empty() || !SignedByPublisher(document, signingKey, keys)) {
        err << "KvoPublish: refused: " << path << ": "
            << (keyRefusal.empty() ? SignatureProblem(CheckManifestSignature(document, PublicHalf(signingKey)))
                                   : keyRefusal.c_str())
            << "; only a manifest signed with this key (or a release key of the key lists) is signed again: "
               "publish it anew\n"
            << "KvoPublish: nothing was written\n";
        return kPublishRefused;
    }
    // The document as it was before its signature.
    std::string content;
    std::vector<unsigned char> oldSignature;
    bool missing = false;
    SplitSignedManifest(document, content, oldSignature, missing);
    const std::string expires = ExpiryInDays(options.expiresDays);
    if (!SetProductAttribute(content, manifest::kExpires, expires) ||
        (options.rollout != PublishOptions::kNoRollout &&
         !SetProductAttribute(content, manifest::kRollout, std::to_string(options.rollout)))) {
        err << "KvoPublish: " << path << " has no Product element; publish it anew\n";
        return kPublishRefused;
    }
    try {
        if (!WriteManifest(content, signingKey, keys, path, options.signKey, err))
            return ReportWriteFailure(err);
    } catch (const kvo::CFileException& error) {
        err << "KvoPublish: " << error.m_strFileName << ": system error " << error.m_lOsError << "\n";
        return ReportWriteFailure(err);
    }
    out << "refreshed " << path << ": signed, expires " << expires
        << (options.rollout == PublishOptions::kNoRollout ? std::string()
                                                          : ", rollout " + std::to_string(options.rollout) + " %")
        << "; copy it to the update hosts\n";
    return kPublishOk;
}
