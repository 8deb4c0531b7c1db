#include "ZipTestSupport.h"

#include <algorithm>
#include <filesystem>

#include "support/zip/UnzipFile.h"

namespace {

/// A path of the host file system as this program must spell it (Wine maps "/" to drive Z:).
std::string HostPath(std::string path)
{
#ifdef _WIN32
    path.insert(0, "Z:");
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

}  // namespace

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(HostPath(KVO_ZIP_CORPUS_DIR))) {
        if (entry.is_regular_file())
            files.push_back(entry.path().string());
    }
    return files;
}

std::string FixturePath(const std::string& name)
{
    return HostPath(std::string(KVO_ZIP_FIXTURE_DIR) + "/" + name);
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

std::string ReadOpenEntry(CUnzipFile& archive, unsigned piece)
{
    std::string content;
    std::vector<char> buffer(piece);
    for (int count; (count = archive.ReadEntry(buffer.data(), piece)) > 0;)
        content.append(buffer.data(), static_cast<std::size_t>(count));
    return content;
}

std::string ReadCurrentEntry(CUnzipFile& archive, unsigned piece)
{
    archive.OpenEntry();
    std::string content = ReadOpenEntry(archive, piece);
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
