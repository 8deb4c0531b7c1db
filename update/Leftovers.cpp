#include "update/Leftovers.h"

#include <windows.h>

#include <cstring>

#include "framework/Handles.h"
#include "support/ReplaceFile.h"

std::string UpperCased(std::string name)
{
    if (!name.empty())
        ::CharUpperBuffA(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

std::vector<std::string> TemporaryFilesIn(const std::string& directory)
{
    std::vector<std::string> names;
    const std::size_t suffixLength = std::strlen(CTempFileBeside::kSuffix);
    WIN32_FIND_DATAA found{};
    kvo::unique_hfind search(::FindFirstFileA((directory + "\\*" + CTempFileBeside::kSuffix).c_str(), &found));
    if (!search)
        return names;
    do {
        const std::string name = found.cFileName;
        // The pattern also matches longer suffixes ("a.kvotmpx" under 8.3 names): check it exactly.
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && name.size() > suffixLength &&
            name.compare(name.size() - suffixLength, suffixLength, CTempFileBeside::kSuffix) == 0)
            names.push_back(name);
    } while (::FindNextFileA(search.get(), &found));
    return names;
}

void CLeftoverTemporaryFiles::RemoveBeside(const std::string& target)
{
    const std::size_t cut = target.find_last_of('\\');
    if (cut == std::string::npos)
        return;
    const std::string directory = target.substr(0, cut);
    auto listed = m_listed.find(directory);
    if (listed == m_listed.end()) {
        std::set<std::string> names;
        for (const std::string& name : TemporaryFilesIn(directory))
            names.insert(UpperCased(name));
        listed = m_listed.emplace(directory, std::move(names)).first;
    }
    const std::string name = UpperCased(target.substr(cut + 1) + CTempFileBeside::kSuffix);
    if (listed->second.erase(name) != 0)
        kvo::CFile::Remove((target + CTempFileBeside::kSuffix).c_str());
}
