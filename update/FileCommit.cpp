#include "update/FileCommit.h"

#include "update/SelfUpdate.h"

namespace {

class CCommitInPlace final : public IFileCommit {
public:
    bool Commit(CTempFileBeside& staged, Kind kind, kvo::CFileException& error) override
    {
        if (kind != Kind::launcher)
            return staged.Commit(&error);
        if (!ReplaceRunningProgram(staged.Path(), staged.TargetPath(), error))
            return false;
        staged.Keep();  // moved away already
        return true;
    }
};

}  // namespace

IFileCommit& CommitInPlace()
{
    static CCommitInPlace commit;
    return commit;
}
