#include "update/PatchRoad.h"

#include <map>
#include <new>

#include "support/PathGuard.h"
#include "support/Sha256.h"
#include "support/patch/PatchApply.h"
#include "update/DownloadAttempt.h"
#include "update/ReleaseArea.h"
#include "update/UpdateEngine.h"
#include "update/UpdateErrors.h"

namespace {


/// The made file, hashed as it is written, and never longer than the entry's file.
class CMadeFile final : public IPatchOutput {
public:
    struct TooLong {};

    CMadeFile(kvo::CFile& file, std::uint64_t bound) : m_file(file), m_bound(bound) {}

    void Write(const unsigned char* data, std::size_t size) override
    {
        if (size > m_bound - m_written)
            throw TooLong();
        m_file.Write(data, static_cast<unsigned>(size));
        m_hash.Update(data, size);
        m_written += size;
    }

    Sha256Digest Digest() { return m_hash.Finish(); }

private:
    kvo::CFile& m_file;
    const std::uint64_t m_bound;
    std::uint64_t m_written = 0;
    CSha256 m_hash;
};

/// Applies the checked patch over the installation's old file into the entry's staged file.
class CPatchTaker final : public IReceivedBody {
public:
    CPatchTaker(CUpdateEngine& engine, const EntryRoad& road, std::string sourcePath)
        : m_engine(engine), m_road(road), m_sourcePath(std::move(sourcePath))
    {
    }

    AttemptResult Take(CTempFileBeside& patchBody) override
    {
        const AttemptResult failed{kErrorPatchFailed, AttemptOutcome::fail};
        try {
            kvo::CFile old;
            if (!old.Open(m_sourcePath.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyWrite))
                return failed;
            std::string tempPath;
            if (const DWORD refused = m_engine.m_staging.TempPathFor(m_road.target, tempPath))
                return {refused, AttemptOutcome::fail};
            if (m_road.signedLength > FreeBytesFor(m_engine.m_staging.Area().ModuleDir()))
                return {ERROR_DISK_FULL, AttemptOutcome::fail};
            CTempFileBeside made(m_road.target, tempPath);
            kvo::CFileException error(kvo::CFileException::none, 0, tempPath);
            if (!made.Open(&error))
                return {FileErrorCode(error), AttemptOutcome::fail};
            CMadeFile output(made.File(), m_road.signedLength);
            if (ApplyPatch(patchBody.File(), old, output) != PatchResult::applied)
                return failed;
            return StageReceivedFile(m_engine, m_road, made, output.Digest());
        } catch (const CMadeFile::TooLong&) {
            return failed;
        } catch (const kvo::CFileException& error) {
            return {FileErrorCode(error), AttemptOutcome::fail};
        } catch (const std::bad_alloc&) {
            return {ERROR_NOT_ENOUGH_MEMORY, AttemptOutcome::fail};
        }
    }

private:
    CUpdateEngine& m_engine;
    const EntryRoad& m_road;
    const std::string m_sourcePath;
};

}  // namespace

const FilePatch* ChooseFilePatch(const EntryRoad& road, const std::string& moduleDir)
{
    // Only a file whose whole bytes are checked at the end may be made from a patch.
    if (!road.IsHashChecked() || road.signedLength == 0 || road.target.empty() || road.isPackage)
        return nullptr;
    std::map<std::string, Sha256Digest> hashed;  // each source read once
    for (const FilePatch& patch : road.entry.Patches) {
        Sha256Digest from{}, listed{};
        std::string source;
        if (!ParseSha256Hex(patch.From, from) || !ParseSha256Hex(patch.SHA256, listed) || patch.Length <= 0 ||
            !JoinUnderBase(moduleDir, patch.Source, source))
            continue;
        auto found = hashed.find(source);
        if (found == hashed.end()) {
            Sha256Digest local{};
            try {
                if (!HashFile(source, local))
                    local.fill(0);
            } catch (const kvo::CException&) {
                local.fill(0);
            }
            found = hashed.emplace(source, local).first;
        }
        if (found->second == from)
            return &patch;
    }
    return nullptr;
}

EntryRoad PatchRoadOf(const EntryRoad& road, const FilePatch& patch, const std::string& moduleDir,
                      const std::vector<std::string>& mirrors)
{
    UpdateFileEntry entry;
    entry.FileName = road.entry.FileName + kPatchStageSuffix;
    entry.URL = patch.URL;
    entry.Length = patch.Length;
    entry.SHA256 = patch.SHA256;
    return TakeEntry(entry, moduleDir, mirrors);
}

DWORD FetchByPatch(CUpdateEngine& engine, const EntryRoad& road, const FilePatch& patch)
{
    std::string source;
    if (!JoinUnderBase(engine.m_strModuleDir, patch.Source, source))
        return kErrorPatchFailed;
    const EntryRoad patchRoad = PatchRoadOf(road, patch, engine.m_strModuleDir, engine.m_mirrors);
    CPatchTaker taker(engine, road, source);
    return engine.DownloadFile(patchRoad, &taker);
}
