#include "update/FileCommit.h"

#include "framework/FileStatus.h"
#include "update/PackageInstall.h"
#include "update/SelfUpdate.h"

namespace {

class CCommitInPlace final : public IFileCommit {
public:
    DWORD TempPathFor(const std::string& target, std::string& tempPath) override
    {
        const std::size_t cut = target.find_last_of('\\');
        if (cut == std::string::npos || !MakeDirectoryPath(target.substr(0, cut).c_str()))
            return ERROR_PATH_NOT_FOUND;
        tempPath = target + CTempFileBeside::kSuffix;
        return ERROR_SUCCESS;
    }

    bool Commit(CTempFileBeside& staged, Kind kind, int attributeWord, kvo::CFileException& error) override
    {
        if (kind == Kind::launcher) {
            // The launcher's bytes are on the disk before the renames that make it the program.
            try {
                staged.File().Flush();
            } catch (const kvo::CFileException& failure) {
                error = failure;
                return false;
            }
            staged.File().Abort();
            if (!ReplaceRunningProgram(staged.Path(), staged.TargetPath(), error))
                return false;
            staged.Keep();  // moved away already
            return true;
        }
        if (!staged.Commit(&error))
            return false;
        // Only after the move: a read-only temporary file could not be deleted if the move failed.
        if (attributeWord != kNoAttributeWord)
            kvo::SetFileAttributeWord(staged.TargetPath(), static_cast<std::uint16_t>(attributeWord));
        return true;
    }
};

}  // namespace

IFileCommit& CommitInPlace()
{
    static CCommitInPlace commit;
    return commit;
}
