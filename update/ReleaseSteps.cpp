#include "update/ReleaseSteps.h"

#include "update/Settings.h"

namespace {

DWORD FileErrorCode(const kvo::CFileException& error)
{
    return error.m_lOsError > 0 ? static_cast<DWORD>(error.m_lOsError) : ERROR_WRITE_FAULT;
}

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

class CFileSystemSteps final : public IReleaseSteps {
public:
    DWORD WriteJournal(const std::string& path, const std::string& text) override
    {
        return WriteThrough(path, text, true);
    }

    DWORD AppendJournal(const std::string& path, const char* line) override { return WriteThrough(path, line, false); }

    DWORD Flush(kvo::CFile& file) override
    {
        try {
            file.Flush();
        } catch (const kvo::CFileException& failure) {
            return FileErrorCode(failure);
        }
        return ERROR_SUCCESS;
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
        return file.RenameReplacing(to.c_str(), &error) ? ERROR_SUCCESS : FileErrorCode(error);
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
