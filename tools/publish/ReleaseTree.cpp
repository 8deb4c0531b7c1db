#include "tools/publish/ReleaseTree.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "framework/Exceptions.h"
#include "framework/Handles.h"
#include "tools/publish/PublishText.h"
#include "update/PackageInstall.h"

namespace {

constexpr unsigned kHighWordBits = 32;

bool IsDotEntry(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void ScanFolder(const std::string& folder, const std::vector<std::string>& prefix, std::vector<ReleaseItem>& items)
{
    kvo::unique_hfind find;
    WIN32_FIND_DATAA data{};
    find.reset(::FindFirstFileA((folder + "\\*").c_str(), &data));
    if (!find) {
        const DWORD error = ::GetLastError();
        throw kvo::CFileException(kvo::CFileException::badPath, static_cast<long>(error), folder);
    }
    std::vector<ReleaseItem> found;
    do {
        if (IsDotEntry(data.cFileName))
            continue;
        ReleaseItem item;
        item.components = prefix;
        item.components.emplace_back(data.cFileName);
        item.fullPath = folder + "\\" + data.cFileName;
        item.isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        item.size = static_cast<std::uint64_t>(data.nFileSizeHigh) << kHighWordBits | data.nFileSizeLow;
        item.lastWrite = data.ftLastWriteTime;
        item.attributes = data.dwFileAttributes;
        found.push_back(std::move(item));
    } while (::FindNextFileA(find.get(), &data));
    std::sort(found.begin(), found.end(),
              [](const ReleaseItem& a, const ReleaseItem& b) { return a.components.back() < b.components.back(); });
    for (ReleaseItem& item : found) {
        const bool isDirectory = item.isDirectory;
        const std::string path = item.fullPath;
        const std::vector<std::string> components = item.components;
        items.push_back(std::move(item));
        if (isDirectory)
            ScanFolder(path, components, items);
    }
}

}  // namespace

std::string ReleaseItem::RelativeName() const
{
    return JoinComponents(components, '\\');
}

std::vector<ReleaseItem> ScanReleaseTree(const std::string& root)
{
    std::vector<ReleaseItem> items;
    std::string folder = root;
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    ScanFolder(folder, {}, items);
    return items;
}

std::string FullPathOf(const std::string& path)
{
    const DWORD needed = ::GetFullPathNameA(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return std::string();
    std::string full(needed, '\0');
    const DWORD length = ::GetFullPathNameA(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed)
        return std::string();
    full.resize(length);
    std::replace(full.begin(), full.end(), '/', '\\');
    while (full.size() > 1 && full.back() == '\\')
        full.pop_back();
    return full;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    return ::CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.data(), static_cast<int>(a.size()), b.data(),
                            static_cast<int>(b.size())) == CSTR_EQUAL;
}

bool IsSameOrBelow(const std::string& inner, const std::string& outer)
{
    if (inner.size() < outer.size() || !EqualsNoCase(inner.substr(0, outer.size()), outer))
        return false;
    return inner.size() == outer.size() || inner[outer.size()] == '\\';
}

bool ReadWholeFile(const std::string& path, std::string& content)
{
    std::ifstream source(path, std::ios::binary);
    if (!source)
        return false;
    content.assign(std::istreambuf_iterator<char>(source), std::istreambuf_iterator<char>());
    return !source.bad();
}

void OpenBeside(CTempFileBeside& temp)
{
    const std::string parent = temp.TargetPath().substr(0, temp.TargetPath().rfind('\\'));
    if (!MakeDirectoryPath(parent.c_str()))
        throw kvo::CFileException(kvo::CFileException::badPath, static_cast<long>(::GetLastError()), parent);
    kvo::CFileException error(kvo::CFileException::none, 0, temp.Path());
    if (!temp.Open(&error))
        throw error;
}

void CommitBeside(CTempFileBeside& temp)
{
    kvo::CFileException error(kvo::CFileException::none, 0, temp.TargetPath());
    if (!temp.Commit(&error))
        throw error;
}

void WriteFileInPlace(const std::string& path, const std::string& content)
{
    CTempFileBeside output(path);
    OpenBeside(output);
    output.File().Write(content.data(), static_cast<unsigned>(content.size()));
    CommitBeside(output);
}
