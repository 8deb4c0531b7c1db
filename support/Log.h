// The updater's diagnostic log: one append-only file per day of start, one time-stamped line per event.
#pragma once
#include <atomic>
#include <ctime>
#include <string>

#include "framework/File.h"
#include "framework/Sync.h"

/// Appends lines "YYYY-mm-dd HH:MM:SS<TAB>text\r\n"; every failure is silent.
class CLog {
public:
    CLog() = default;
    virtual ~CLog();
    CLog(const CLog&) = delete;
    CLog& operator=(const CLog&) = delete;

    /// Opens `path` for appending (creating it when missing). Creates no directory.
    bool Open(const char* path);
    /// Writes one line; does nothing while the log is closed.
    void WriteLog(const char* text);
    void Close();

    bool IsOpen() const noexcept { return m_bOpen; }

private:
    /// Writes one piece of a line; errors are swallowed so the rest of the line is still tried.
    void WritePiece(const void* data, unsigned length) noexcept;

    std::atomic<bool> m_bOpen{false};  // read without the lock by design
    kvo::CFile m_file;
    kvo::CCriticalSection m_cs;
};

/// The log file of a start at `now`: moduleDir + "/DownLoad/AutoUpdate_YYYYMMDD.log".
std::string MakeDatedLogPath(const std::string& moduleDir, __time64_t now);
