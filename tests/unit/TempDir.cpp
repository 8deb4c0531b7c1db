#include "TempDir.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/ReplaceFile.h"

#ifdef _WIN32
namespace {
constexpr int kMaxNameAttempts = 1000;
}

TempDir::TempDir()
{
    char base[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, base);
    // Test programs run side by side in one Temp folder, and a directory removed a moment ago may
    // still be pending deletion: each directory takes a name never used before, the process id and
    // a count, instead of a recycled GetTempFileName number.
    static LONG s_created = 0;
    const std::string stem = std::string(base) + "kvo" + std::to_string(::GetCurrentProcessId()) + "-";
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const std::string path = stem + std::to_string(::InterlockedIncrement(&s_created));
        if (::CreateDirectoryA(path.c_str(), nullptr)) {
            m_path = path + "\\";
            return;
        }
    }
    throw std::runtime_error("no new temporary directory in " + std::string(base));
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
#include <cstdlib>

TempDir::TempDir()
{
    char pattern[] = "/tmp/kvotestXXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    m_path = std::string(pattern) + "/";
}

bool FileExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}
#endif

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<std::string> TemporaryFilesBelow(const std::string& dir)
{
    const std::string suffix = CTempFileBeside::kSuffix;
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string name = entry.path().string();
        if (entry.is_regular_file() && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            found.push_back(name.substr(dir.size()));
    }
    return found;
}

std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteWholeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}
