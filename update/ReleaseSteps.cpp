#include "update/ReleaseSteps.h"

#include <algorithm>
#include <atomic>

#include "framework/Thread.h"
#include "update/Settings.h"
#include "update/UpdateErrors.h"

namespace {

/// Writes `text` at the end of the file at `path` (`create`: a new file) and flushes it.
DWORD WriteThrough(const std::string& path, const std::string& text, bool create)
{
    const unsigned flags = kvo::CFile::modeWrite | (create ? kvo::CFile::modeCreate : 0u);
    kvo::CFile file;
    kvo::CFileException error(kvo::CFileException::none, 0, path);
    if (!file.Open(path.c_str(), flags, &error))
        return FileErrorCode(error);
    try {
        file.SeekToEnd();
        file.Write(text.data(), static_cast<unsigned>(text.size()));
        file.Flush();
        file.Close();
    } catch (const kvo::CFileException& failure) {
        return FileErrorCode(failure);
    }
    return ERROR_SUCCESS;
}

/// Flushes run this many at a time: a disk takes flushes that come together in one go, where one
/// after another each waits for its own.
constexpr std::size_t kFlushWorkers = 16;

/// The files to flush, shared by the flushing workers.
struct FlushJob {
    const std::vector<kvo::CFile*>& files;
    std::atomic<std::size_t> next{0};
    std::atomic<DWORD> error{ERROR_SUCCESS};
};

unsigned FlushFiles(void* param)
{
    FlushJob& job = *static_cast<FlushJob*>(param);
    for (std::size_t i = job.next++; i < job.files.size(); i = job.next++) {
        try {
            job.files[i]->Flush();
        } catch (const kvo::CFileException& failure) {
            DWORD none = ERROR_SUCCESS;
            job.error.compare_exchange_strong(none, FileErrorCode(failure));
        }
    }
    return 0;
}

class CFileSystemSteps final : public IReleaseSteps {
public:
    DWORD WriteJournal(const std::string& path, const std::string& text) override
    {
        return WriteThrough(path, text, true);
    }

    DWORD AppendJournal(const std::string& path, const char* line) override { return WriteThrough(path, line, false); }

    DWORD FlushAll(const std::vector<kvo::CFile*>& files) override
    {
        FlushJob job{files};
        kvo::RunOnWorkers(static_cast<unsigned>(std::min<std::size_t>(kFlushWorkers, files.size())), FlushFiles, &job);
        return job.error.load();
    }

    DWORD Move(const std::string& from, const std::string& to) override
    {
        if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ERROR_SUCCESS;
        return ::GetLastError();
    }

    DWORD Rename(kvo::CFile& file, const std::string& to) override
    {
        kvo::CFileException error(kvo::CFileException::none, 0, to);
        return file.RenameInto(to.c_str(), &error) ? ERROR_SUCCESS : FileErrorCode(error);
    }

    DWORD WriteVersion(const std::string& moduleDir, unsigned version) override
    {
        return WriteInstalledVersion(moduleDir, static_cast<int>(version));
    }
};

}  // namespace

IReleaseSteps& FileSystemSteps()
{
    static CFileSystemSteps steps;
    return steps;
}
