#include "update/PackageRepair.h"

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "support/zip/DirectoryOffsets.h"
#include "update/DownloadAttempt.h"
#include "update/PackageInstall.h"
#include "update/PackageRanges.h"
#include "update/UpdateEngine.h"
#include "update/UpdateErrors.h"

namespace {

const char kDirectoryStageSuffix[] = ".kvodir";
const char kRepairStageSuffix[] = ".kvorepair";
const char kScratchSuffix[] = ".kvocheck";
/// A directory larger than this is not one a package of at most 65 535 entries has.
constexpr std::uint32_t kMaxDirectoryBytes = 64u << 20;

/// The fetched directory, in memory.
class CDirectoryTaker final : public IReceivedBody {
public:
    AttemptResult Take(CTempFileBeside& body) override
    {
        try {
            kvo::CFile& file = body.File();
            bytes.resize(static_cast<std::size_t>(file.GetLength()));
            file.Seek(0, kvo::CFile::begin);
            for (std::size_t done = 0; done < bytes.size();) {
                const unsigned got = file.Read(&bytes[done], static_cast<unsigned>(bytes.size() - done));
                if (got == 0)
                    return {ERROR_HANDLE_EOF, AttemptOutcome::fail};
                done += got;
            }
            return {};
        } catch (const kvo::CFileException& error) {
            return {FileErrorCode(error), AttemptOutcome::fail};
        }
    }

    std::string bytes;
};

/// Entries unpacked and hashed, then dropped: the check before anything is staged.
class CScratchCommit final : public IFileCommit {
public:
    CScratchCommit(CReleaseStaging& staging, std::string scratchTarget)
        : m_staging(staging), m_scratchTarget(std::move(scratchTarget))
    {
    }
    DWORD TempPathFor(const std::string&, std::string& tempPath) override
    {
        return m_staging.TempPathFor(m_scratchTarget, tempPath);
    }
    bool Commit(CTempFileBeside&, Kind, int, kvo::CFileException&) override { return true; }  // deleted with it

private:
    CReleaseStaging& m_staging;
    const std::string m_scratchTarget;
};

/// A range of whole entries: unpacked once to check that it holds only entries asked for, each
/// with the bytes the index lists, and only then unpacked into the staging area.
class CRepairTaker final : public IReceivedBody {
public:
    CRepairTaker(CUpdateEngine& engine, const EntryRoad& road, const PackageIndex& expected,
                 const std::set<std::string>& missing)
        : m_engine(engine), m_road(road), m_expected(expected), m_missing(missing)
    {
    }

    AttemptResult Take(CTempFileBeside& body) override
    {
        const std::string path = body.Path();
        kvo::CFile range;
        body.HandOver(range);
        std::string problem;
        PackageIndex checked;
        CScratchCommit scratch(m_engine.m_staging, m_road.target + kScratchSuffix);
        bool good = InstallPackageRange(range, PackageFolder(m_road), problem, scratch, checked) &&
                    std::all_of(checked.begin(), checked.end(), [&](const PackageIndex::value_type& entry) {
                        const auto listed = m_expected.find(entry.first);
                        return m_missing.count(entry.first) != 0 && listed != m_expected.end() &&
                               listed->second == entry.second;
                    });
        kvo::CFile again;
        good = good && again.Open(path.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyWrite) &&
               InstallPackageRange(again, PackageFolder(m_road), problem, m_engine.m_staging, contents);
        again.Abort();
        kvo::CFile::Remove(path.c_str());
        return good ? AttemptResult{} : AttemptResult{kErrorIndexMismatch, AttemptOutcome::fail};
    }

    PackageIndex contents;

private:
    CUpdateEngine& m_engine;
    const EntryRoad& m_road;
    const PackageIndex& m_expected;
    const std::set<std::string>& m_missing;
};

using Span = std::pair<std::uint32_t, std::uint32_t>;  // [first byte, end)

/// The spans of the entries `missing`, adjacent ones joined: each entry reaches to the next
/// entry's start, or to the directory. False when an entry is not in the directory.
bool MissingSpans(const std::map<std::string, std::uint32_t>& starts, std::uint32_t directoryOffset,
                  const std::set<std::string>& missing, std::vector<Span>& requests)
{
    std::set<std::uint32_t> bounds{directoryOffset};
    for (const auto& start : starts)
        bounds.insert(start.second);
    std::vector<Span> spans;
    for (const std::string& name : missing) {
        const auto found = starts.find(name);
        if (found == starts.end() || found->second >= directoryOffset)
            return false;
        spans.emplace_back(found->second, *bounds.upper_bound(found->second));
    }
    std::sort(spans.begin(), spans.end());
    for (const Span& span : spans) {
        if (!requests.empty() && requests.back().second == span.first)
            requests.back().second = span.second;
        else
            requests.push_back(span);
    }
    return true;
}

}  // namespace

std::string PackageFolder(const EntryRoad& road)
{
    return road.target.substr(0, road.target.find_last_of('\\') + 1);
}

DWORD RepairPackageEntries(CUpdateEngine& engine, const EntryRoad& road, const PackageIndex& expected,
                           const std::set<std::string>& missing, PackageIndex& contents, std::uint32_t& fetched)
{
    const ByteRange& directory = road.entry.Directory;
    Sha256Digest directoryHash{};
    if (directory.Length == 0 || directory.Length > kMaxDirectoryBytes ||
        std::uint64_t{directory.Offset} + directory.Length != road.signedLength ||
        !ParseSha256Hex(directory.SHA256, directoryHash))
        return kErrorIndexMismatch;
    CDirectoryTaker directoryBytes;
    const EntryRoad directoryRoad =
        PackagePartRoad(engine, road, kDirectoryStageSuffix, directory.Offset, directory.Length, directory.SHA256);
    if (const DWORD error = engine.DownloadFile(directoryRoad, &directoryBytes))
        return error;
    fetched += directory.Length;
    std::map<std::string, std::uint32_t> starts;
    std::vector<Span> requests;
    if (!ReadEntryOffsets(reinterpret_cast<const unsigned char*>(directoryBytes.bytes.data()),
                          directoryBytes.bytes.size(), starts) ||
        !MissingSpans(starts, directory.Offset, missing, requests))
        return kErrorIndexMismatch;
    for (const Span& request : requests) {
        // No hash vouches for these bytes: every entry in them is checked against the index.
        CRepairTaker taker(engine, road, expected, missing);
        const EntryRoad part =
            PackagePartRoad(engine, road, kRepairStageSuffix, request.first, request.second - request.first, {});
        if (const DWORD error = engine.DownloadFile(part, &taker))
            return error;
        fetched += request.second - request.first;
        contents.insert(taker.contents.begin(), taker.contents.end());
    }
    return ERROR_SUCCESS;
}
