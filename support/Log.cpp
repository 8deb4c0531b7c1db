#include "support/Log.h"

#include <cstdio>
#include <cstring>
#include <time.h>

namespace {

constexpr unsigned kLogOpenFlags = kvo::CFile::modeWrite | kvo::CFile::shareDenyNone;  // 0x0041
constexpr unsigned kLogCreateFlags = kvo::CFile::modeCreate | kvo::CFile::modeWrite;   // 0x1001
constexpr std::size_t kStampBufferSize = 128;
const char kLineEnd[] = "\r\n";

/// One local-time component of `now`, or 0 when the conversion fails.
int LocalComponent(__time64_t now, int tm::*field, int offset)
{
    tm local{};
    if (_localtime64_s(&local, &now) != 0)
        return 0;
    return local.*field + offset;
}

}  // namespace

CLog::~CLog()
{
    m_file.Abort();
}

bool CLog::Open(const char* path)
{
    if (m_file.Open(path, kLogOpenFlags)) {
        m_bOpen = true;
        try {
            m_file.SeekToEnd();
        } catch (const kvo::CFileException&) {
            // Appending position unknown: the lines still go into the file.
        }
        return true;
    }
    if (!m_file.Open(path, kLogCreateFlags)) {
        m_bOpen = false;
        return false;
    }
    // Reopen with sharing so other programs can read the log while it is written.
    m_file.Abort();
    m_file.Open(path, kLogOpenFlags);
    m_bOpen = true;
    return true;
}

void CLog::WritePiece(const void* data, unsigned length) noexcept
{
    if (!m_file.IsOpen() || !data)
        return;
    try {
        m_file.Write(data, length);
    } catch (const kvo::CFileException&) {
        // Logging never disturbs the update.
    }
}

void CLog::WriteLog(const char* text)
{
    if (!m_bOpen)
        return;

    char stamp[kStampBufferSize] = {};
    std::size_t stampLength = 0;
    const __time64_t now = _time64(nullptr);
    tm local{};
    if (_localtime64_s(&local, &now) == 0)
        stampLength = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S\t", &local);

    kvo::CSingleLock lock(m_cs);
    WritePiece(stamp, static_cast<unsigned>(stampLength));
    WritePiece(text, text ? static_cast<unsigned>(std::strlen(text)) : 0);
    WritePiece(kLineEnd, sizeof kLineEnd - 1);
}

void CLog::Close()
{
    if (!m_bOpen)
        return;
    kvo::CSingleLock lock(m_cs);
    m_file.Abort();
    m_bOpen = false;
}

std::string MakeDatedLogPath(const std::string& moduleDir, __time64_t now)
{
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "_%04d%02d%02d.log", LocalComponent(now, &tm::tm_year, 1900),
                  LocalComponent(now, &tm::tm_mon, 1), LocalComponent(now, &tm::tm_mday, 0));
    // The backslash of the directory and the slash make one separator for the file system.
    return moduleDir + "/DownLoad/AutoUpdate" + suffix;
}
