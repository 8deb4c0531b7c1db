#include "update/ReleaseStaging.h"

#include <algorithm>

namespace {

kvo::CFileException Refusal(DWORD error, const std::string& path)
{
    return kvo::CFileException(kvo::CFileException::accessDenied, static_cast<long>(error), path);
}

}  // namespace

CReleaseStaging::CReleaseStaging(std::string moduleDir) : m_area(std::move(moduleDir)) {}

DWORD CReleaseStaging::TempPathFor(const std::string& target, std::string& tempPath)
{
    std::string relative;
    if (!m_area.RelativeTarget(target, relative))
        return ERROR_ACCESS_DENIED;
    if (!m_bPrepared) {
        if (const DWORD refused = m_area.Prepare())
            return refused;
        m_bPrepared = true;
    }
    const std::string name = CReleaseArea::StagedNameFor(relative);
    // The same target staged again (listed twice, or by a package too): the later one counts.
    m_staged.erase(std::remove_if(m_staged.begin(), m_staged.end(),
                                  [&](const StagedFile& file) { return file.entry.stagedName == name; }),
                   m_staged.end());
    tempPath = m_area.StagedPath(name);
    return m_area.CheckStagedPath(tempPath);
}

bool CReleaseStaging::Commit(CTempFileBeside& staged, Kind kind, int attributeWord, kvo::CFileException& error)
{
    StagedFile file;
    if (!m_area.RelativeTarget(staged.TargetPath(), file.entry.target)) {
        error = Refusal(ERROR_ACCESS_DENIED, staged.TargetPath());
        return false;
    }
    DWORD refused = m_area.CheckStagedFile(staged.File().GetHandle());
    if (refused == ERROR_SUCCESS)
        refused = m_area.CheckTargetFolders(file.entry.target);
    if (refused != ERROR_SUCCESS) {
        error = Refusal(refused, staged.TargetPath());
        return false;
    }
    file.entry.stagedName = CReleaseArea::StagedNameFor(file.entry.target);
    file.entry.attributeWord = attributeWord;
    file.isLauncher = kind == Kind::launcher;
    file.file = std::make_unique<kvo::CFile>();
    staged.HandOver(*file.file);
    m_staged.push_back(std::move(file));
    return true;
}

DWORD CReleaseStaging::CommitAll(unsigned toVersion, IReleaseSteps& steps)
{
    const DWORD error = CommitRelease(m_area, m_staged, toVersion, steps);
    m_staged.clear();
    return error;
}
