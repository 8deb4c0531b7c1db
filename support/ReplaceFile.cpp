#include "support/ReplaceFile.h"

#include "support/PathGuard.h"

namespace {

// Exclusive, truncating, and renameable while open, so a commit needs no second open.
constexpr unsigned kCreateFlags = kvo::CFile::modeCreate | kvo::CFile::modeReadWrite | kvo::CFile::modeRenameable;
constexpr unsigned kResumeFlags =
    kvo::CFile::modeCreate | kvo::CFile::modeReadWrite | kvo::CFile::modeNoTruncate | kvo::CFile::modeRenameable;
constexpr long kNameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

}  // namespace

CTempFileBeside::CTempFileBeside(std::string targetPath)
    : m_strTargetPath(std::move(targetPath)), m_strTempPath(m_strTargetPath + kSuffix)
{
}

CTempFileBeside::CTempFileBeside(std::string targetPath, std::string tempPath)
    : m_strTargetPath(std::move(targetPath)), m_strTempPath(std::move(tempPath))
{
}

CTempFileBeside::~CTempFileBeside()
{
    Discard();
}

bool CTempFileBeside::Fits(const std::string& targetPath) noexcept
{
    return targetPath.size() + std::char_traits<char>::length(kSuffix) < kPathBufferSize;
}

bool CTempFileBeside::PathsFit() const noexcept
{
    return m_strTargetPath.size() < kPathBufferSize && m_strTempPath.size() < kPathBufferSize;
}

bool CTempFileBeside::Open(kvo::CFileException* error)
{
    Discard();
    if (!PathsFit()) {
        if (error)
            *error = kvo::CFileException(kvo::CFileException::badPath, kNameTooLong, m_strTempPath);
        return false;
    }
    m_bCreated = m_file.Open(m_strTempPath.c_str(), kCreateFlags, error);
    return m_bCreated;
}

bool CTempFileBeside::OpenToResume(std::uint64_t& kept, kvo::CFileException* error)
{
    Discard();
    kept = 0;
    if (!PathsFit()) {
        if (error)
            *error = kvo::CFileException(kvo::CFileException::badPath, kNameTooLong, m_strTempPath);
        return false;
    }
    m_bCreated = m_file.Open(m_strTempPath.c_str(), kResumeFlags, error);
    if (m_bCreated)
        kept = m_file.SeekToEnd();
    return m_bCreated;
}

void CTempFileBeside::Keep() noexcept
{
    m_file.Abort();
    m_bCreated = false;
}

void CTempFileBeside::HandOver(kvo::CFile& holder) noexcept
{
    m_file.HandOver(holder);
    m_bCreated = false;
}

bool CTempFileBeside::Commit(kvo::CFileException* error)
{
    if (!m_bCreated) {
        if (error)
            *error = kvo::CFileException(kvo::CFileException::generic, -1, m_strTempPath);
        return false;
    }
    if (m_file.IsOpen()) {
        // Still open: moved through its own handle, then closed under the target's name.
        if (!m_file.RenameReplacing(m_strTargetPath.c_str(), error)) {
            Discard();
            return false;
        }
        m_file.Abort();
        m_bCreated = false;
        return true;
    }
    if (!kvo::CFile::MoveReplacing(m_strTempPath.c_str(), m_strTargetPath.c_str(), error)) {
        Discard();
        return false;
    }
    m_bCreated = false;
    return true;
}

void CTempFileBeside::Discard() noexcept
{
    m_file.Abort();
    if (m_bCreated) {
        kvo::CFile::Remove(m_strTempPath.c_str());
        m_bCreated = false;
    }
}
