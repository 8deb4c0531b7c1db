// Helpers of the archive tests that run both under Wine and natively.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CUnzipFile;
class TempDir;

/// A throw-away directory, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    /// The directory, ending in the system's separator.
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + relative; }

private:
    std::unique_ptr<TempDir> m_windowsDir;  ///< Windows: the test library's TempDir does the work
    std::string m_path;
};

/// The system's path separator.
extern const char kSeparator;

/// A path of the host file system as this program must spell it (Wine maps "/" to drive Z:).
std::string HostPath(const std::string& hostPath);
/// A fixture archive made by tools/make_zip_fixtures.py.
std::string FixturePath(const std::string& name);
/// Every file of the seed corpus of the archive fuzzer.
std::vector<std::string> CorpusFiles();

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool PathExists(const std::string& path);

/// Runs `action`: the cause of the CZipException it raised, 0 when it raised nothing, -1 when it
/// raised something else.
int ZipCause(const std::function<void()>& action);

/// The whole content of the current entry, read in pieces of `piece` bytes (opens and closes it).
std::string ReadCurrentEntry(CUnzipFile& archive, unsigned piece);
/// The current entry's name as stored.
std::string CurrentName(CUnzipFile& archive);
