#include "update/PackageRanges.h"

#include <algorithm>
#include <new>
#include <set>

#include "framework/File.h"
#include "support/PathGuard.h"
#include "update/DownloadAttempt.h"
#include "update/PackageInstall.h"
#include "update/PackageRepair.h"
#include "update/UpdateEngine.h"
#include "update/UpdateErrors.h"

namespace {

/// An index larger than this is not one this program wrote.
constexpr std::uint64_t kMaxIndexBytes = 64u << 20;

/// The index the installation keeps for the road's package; false when there is none or it is
/// not one this program wrote.
bool ReadKeptIndex(const CUpdateEngine& engine, const EntryRoad& road, PackageIndex& index)
{
    const std::string path = engine.m_strModuleDir + KeptIndexName(road.entry.FileName);
    kvo::CFile file;
    if (!file.Open(path.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyWrite))
        return false;
    try {
        const std::uint64_t length = file.GetLength();
        if (length > kMaxIndexBytes)
            return false;
        std::string text(static_cast<std::size_t>(length), '\0');
        if (length > 0 && file.Read(&text[0], static_cast<unsigned>(length)) != length)
            return false;
        return ParsePackageIndex(text, index);
    } catch (const kvo::CFileException&) {
        return false;
    }
}

/// The entries of `expected` whose installed file under `base` is missing or holds other bytes.
std::set<std::string> DamagedEntries(const PackageIndex& expected, const std::string& base)
{
    std::set<std::string> damaged;
    for (const auto& entry : expected) {
        std::string path;
        Sha256Digest installed{};
        bool same = false;
        try {
            same = JoinUnderBase(base, entry.first, path) && HashFile(path, installed) && installed == entry.second;
        } catch (const kvo::CException&) {
            same = false;
        }
        if (!same)
            damaged.insert(entry.first);
    }
    return damaged;
}

/// Installs the checked range into the staging area, recording what each entry holds.
class CRangeTaker final : public IReceivedBody {
public:
    CRangeTaker(CUpdateEngine& engine, std::string base) : m_engine(engine), m_base(std::move(base)) {}

    AttemptResult Take(CTempFileBeside& body) override
    {
        const std::string path = body.Path();
        kvo::CFile range;
        body.HandOver(range);
        std::string problem;
        const bool installed = InstallPackageRange(range, m_base, problem, m_engine.m_staging, contents);
        kvo::CFile::Remove(path.c_str());  // its entries are staged; the range itself is not kept
        if (!installed)
            return {kErrorIndexMismatch, AttemptOutcome::fail};
        return {};
    }

    PackageIndex contents;

private:
    CUpdateEngine& m_engine;
    const std::string m_base;
};

/// The delta of the road's entry that starts from `kept`, when it is usable; null otherwise.
const PackageDelta* FindDelta(const EntryRoad& road, const Sha256Digest& kept)
{
    for (const PackageDelta& delta : road.entry.Deltas) {
        Sha256Digest from{}, rangeHash{};
        if (!ParseSha256Hex(delta.From, from) || from != kept || !ParseSha256Hex(delta.SHA256, rangeHash))
            continue;
        // Most of the package changed: the whole of it costs hardly more, in one request.
        if (std::uint64_t{delta.Offset} + delta.Length > road.signedLength || delta.Length > road.signedLength / 2)
            return nullptr;
        return &delta;
    }
    return nullptr;
}

}  // namespace

PackageChanges FetchPackageChanges(CUpdateEngine& engine, const EntryRoad& road)
{
    PackageChanges changes;
    Sha256Digest listedIndex{};
    PackageIndex kept;
    if (!road.isPackage || road.target.empty() || road.signedLength == 0 ||
        !ParseSha256Hex(road.entry.Index, listedIndex) || !ReadKeptIndex(engine, road, kept))
        return changes;
    const Sha256Digest keptHash = PackageIndexHash(kept);
    const PackageDelta* delta = keptHash == listedIndex ? nullptr : FindDelta(road, keptHash);
    if (keptHash != listedIndex && !delta)
        return changes;
    changes.tried = true;
    const std::string base = PackageFolder(road);
    PackageIndex expected = kept;
    if (delta) {
        for (const std::string& removed : delta->Removed)
            expected.erase(removed);
    }
    const std::set<std::string> damaged = DamagedEntries(expected, base);
    CRangeTaker taker(engine, base);
    if (delta && delta->Length > 0) {
        const EntryRoad partRoad =
            PackagePartRoad(engine, road, kRangeStageSuffix, delta->Offset, delta->Length, delta->SHA256);
        if ((changes.error = engine.DownloadFile(partRoad, &taker)) != ERROR_SUCCESS)
            return changes;
        changes.fetched = delta->Length;
    }
    // An installed entry that no longer matches and that the range does not bring anew is fetched
    // alone, by its place in the package.
    std::set<std::string> missing;
    for (const std::string& name : damaged)
        if (taker.contents.count(name) == 0)
            missing.insert(name);
    PackageIndex repaired;
    if (!missing.empty() &&
        (changes.error = RepairPackageEntries(engine, road, expected, missing, repaired, changes.fetched)) != ERROR_SUCCESS)
        return changes;
    for (const PackageIndex* staged : {&taker.contents, &repaired})
        for (const auto& entry : *staged)
            expected[entry.first] = entry.second;
    if (PackageIndexHash(expected) != listedIndex) {
        changes.error = kErrorIndexMismatch;
        return changes;
    }
    if (delta)
        StageKeptIndex(engine, road, expected);
    return changes;
}

EntryRoad PackagePartRoad(const CUpdateEngine& engine, const EntryRoad& road, const char* stageSuffix,
                          std::uint32_t offset, std::uint32_t length, const std::string& sha256)
{
    UpdateFileEntry part;
    part.FileName = road.entry.FileName + stageSuffix;
    part.URL = road.entry.URL;
    part.Length = static_cast<int>(length);
    part.SHA256 = sha256;
    EntryRoad partRoad = TakeEntry(part, engine.m_strModuleDir, engine.m_mirrors);
    partRoad.partOffset = offset;
    partRoad.partLength = length;
    partRoad.partOfLength = road.signedLength;
    return partRoad;
}

void StageKeptIndex(CUpdateEngine& engine, const EntryRoad& road, const PackageIndex& contents)
{
    Sha256Digest listedIndex{};
    if (!ParseSha256Hex(road.entry.Index, listedIndex) || PackageIndexHash(contents) != listedIndex)
        return;
    const std::string target = engine.m_strModuleDir + KeptIndexName(road.entry.FileName);
    std::string tempPath;
    if (engine.m_staging.TempPathFor(target, tempPath) != ERROR_SUCCESS)
        return;
    try {
        CTempFileBeside temp(target, tempPath);
        kvo::CFileException error(kvo::CFileException::none, 0, target);
        if (!temp.Open(&error))
            return;
        const std::string text = FormatPackageIndex(contents);
        temp.File().Write(text.data(), static_cast<unsigned>(text.size()));
        engine.m_staging.Commit(temp, IFileCommit::Kind::file, kNoAttributeWord, error);
    } catch (const kvo::CFileException&) {
    } catch (const std::bad_alloc&) {
    }
}
