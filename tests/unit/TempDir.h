// A throw-away directory for one test, removed with everything in it; builds for Windows (the
// tests under Wine) and natively (the archive tests under sanitizers).
#pragma once
#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <vector>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    /// The directory, ending in the platform's separator.
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + relative; }

private:
    std::string m_path;
};

/// Whole content of a file ("" when missing), and writing one.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
/// Every "*.kvotmp" file below `dir`, as paths relative to it.
std::vector<std::string> TemporaryFilesBelow(const std::string& dir);
