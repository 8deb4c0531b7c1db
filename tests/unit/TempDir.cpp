#include "TempDir.h"

#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <shellapi.h>

TempDir::TempDir()
{
    char base[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, base);
    char name[MAX_PATH] = {};
    ::GetTempFileNameA(base, "kvo", 0, name);
    ::DeleteFileA(name);
    ::CreateDirectoryA(name, nullptr);
    m_path = std::string(name) + "\\";
}

TempDir::~TempDir()
{
    std::string from = m_path.substr(0, m_path.size() - 1);
    from.push_back('\0');  // SHFileOperation wants a double-terminated list
    SHFILEOPSTRUCTA op{};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    ::SHFileOperationA(&op);
}

bool FileExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempDir::TempDir()
{
    char pattern[] = "/tmp/kvotestXXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    m_path = std::string(pattern) + "/";
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

bool FileExists(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}
#endif

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
