#include "ZipTestSupport.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/zip/UnzipFile.h"

#ifdef _WIN32
#include <windows.h>

#include "TempDir.h"
#else
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

class TempDir {};  // Windows only; here the directory is made with mkdtemp
#endif

#ifdef _WIN32
const char kSeparator = '\\';

ScratchDir::ScratchDir() : m_windowsDir(std::make_unique<TempDir>()), m_path(m_windowsDir->path()) {}

ScratchDir::~ScratchDir() = default;

std::string HostPath(const std::string& hostPath)
{
    std::string result = "Z:" + hostPath;
    for (char& c : result) {
        if (c == '/')
            c = '\\';
    }
    return result;
}

bool PathExists(const std::string& path)
{
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> CorpusFiles()
{
    const std::string dir = HostPath(KVO_ZIP_CORPUS_DIR) + "\\";
    std::vector<std::string> files;
    WIN32_FIND_DATAA found{};
    HANDLE search = ::FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(dir + found.cFileName);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return files;
}
#else
const char kSeparator = '/';

ScratchDir::ScratchDir()
{
    char pattern[] = "/tmp/kvozipXXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    m_path = std::string(pattern) + "/";
}

ScratchDir::~ScratchDir()
{
    ::nftw(
        m_path.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string HostPath(const std::string& hostPath)
{
    return hostPath;
}

bool PathExists(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::string> CorpusFiles()
{
    const std::string dir = std::string(KVO_ZIP_CORPUS_DIR) + "/";
    std::vector<std::string> files;
    DIR* handle = ::opendir(dir.c_str());
    if (!handle)
        return files;
    while (const dirent* entry = ::readdir(handle)) {
        if (entry->d_name[0] != '.')
            files.push_back(dir + entry->d_name);
    }
    ::closedir(handle);
    return files;
}
#endif

std::string FixturePath(const std::string& name)
{
    return HostPath(std::string(KVO_ZIP_FIXTURE_DIR) + "/" + name);
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int ZipCause(const std::function<void()>& action)
{
    try {
        action();
    } catch (const CZipException& error) {
        return error.m_nCause;
    } catch (...) {
        return -1;
    }
    return 0;
}

std::string ReadCurrentEntry(CUnzipFile& archive, unsigned piece)
{
    archive.OpenEntry();
    std::string content;
    std::vector<char> buffer(piece);
    for (;;) {
        const int count = archive.ReadEntry(buffer.data(), piece);
        if (count <= 0)
            break;
        content.append(buffer.data(), static_cast<std::size_t>(count));
    }
    archive.CloseEntry();
    return content;
}

std::string CurrentName(CUnzipFile& archive)
{
    EntryInfo info;
    archive.GetEntryInfo(&info);
    std::vector<char> name(info.nameLength + 1);
    archive.GetEntryInfo(nullptr, name.data(), static_cast<std::uint32_t>(name.size()));
    return std::string(name.data(), info.nameLength);
}
