#include "update/ReleaseStaging.h"

#include <algorithm>

#include "framework/FileStatus.h"
#include "update/Leftovers.h"
#include "update/PackageInstall.h"

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
    if (m_names.erase(name) != 0) {
        m_staged.erase(std::remove_if(m_staged.begin(), m_staged.end(),
                                      [&](const StagedFile& file) { return file.entry.stagedName == name; }),
                       m_staged.end());
    }
    tempPath = m_area.StagedPath(name);
    const std::size_t cut = tempPath.find_last_of('\\');
    const std::string folder = tempPath.substr(0, cut);
    auto known = m_folderFiles.find(folder);
    if (known == m_folderFiles.end()) {
        const bool fresh = ::GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
        if (!MakeDirectoryPath(folder.c_str()))
            return ERROR_PATH_NOT_FOUND;
        if (const DWORD refused = m_area.CheckStagedPath(folder))
            return refused;  // a subfolder that leads elsewhere
        // One listing per subfolder instead of a question per file: a new name is asked for only
        // where something already is.
        std::set<std::string> present;
        if (!fresh) {
            for (const std::string& file : TemporaryFilesIn(folder))
                present.insert(UpperCased(file));
        }
        known = m_folderFiles.emplace(folder, std::move(present)).first;
    }
    if (known->second.count(UpperCased(tempPath.substr(cut + 1))) == 0)
        return ERROR_SUCCESS;  // nothing there yet: the file is made anew
    return m_area.CheckStagedPath(tempPath);
}

bool CReleaseStaging::Commit(CTempFileBeside& staged, Kind kind, int attributeWord, kvo::CFileException& error)
{
    StagedFile file;
    if (!m_area.RelativeTarget(staged.TargetPath(), file.entry.target)) {
        error = Refusal(ERROR_ACCESS_DENIED, staged.TargetPath());
        return false;
    }
    // Each folder of the targets is looked at once: a package writes thousands of files into a few.
    const std::string folder = file.entry.target.substr(0, file.entry.target.find_last_of('\\') + 1);
    if (m_checkedFolders.count(folder) == 0) {
        if (const DWORD refused = m_area.CheckTargetFolders(file.entry.target)) {
            error = Refusal(refused, staged.TargetPath());
            return false;
        }
        m_checkedFolders.insert(folder);
    }
    file.entry.stagedName = CReleaseArea::StagedNameFor(file.entry.target);
    // Given now, through the handle: the file carries them into place and back, with no more opens.
    if (attributeWord != kNoAttributeWord)
        kvo::SetFileAttributeWord(staged.File(), static_cast<std::uint16_t>(attributeWord));
    file.isLauncher = kind == Kind::launcher;
    file.file = std::make_unique<kvo::CFile>();
    staged.HandOver(*file.file);
    m_names.insert(file.entry.stagedName);
    m_staged.push_back(std::move(file));
    return true;
}

DWORD CReleaseStaging::CommitAll(unsigned toVersion, IReleaseSteps& steps)
{
    const DWORD error = CommitRelease(m_area, m_staged, toVersion, steps);
    Abandon();
    return error;
}
