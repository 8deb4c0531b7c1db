#include "tools/publish/PublishPlan.h"

#include <algorithm>
#include <cstring>
#include <climits>

#include "support/PathGuard.h"
#include "support/ReplaceFile.h"
#include "tools/publish/PublishText.h"
#include "update/FileCheck.h"
#include "update/PackageIndex.h"
#include "update/ReleaseArea.h"
#include "update/TrustState.h"

namespace {

const char kPackageSuffix[] = ".zip";
const char kForbiddenNameCharacters[] = "<>:\"|?*";
/// Largest file the launcher can take: it reads lengths as signed 32-bit numbers.
constexpr std::uint64_t kMaxPublishedSize = INT_MAX;
/// A package holds fewer entries than the 16-bit count field's ZIP64 marker.
constexpr std::size_t kMaxPackageEntries = 0xFFFE;

/// What the launcher's installation owns itself, never to be replaced from a release.
struct AlwaysExcluded {
    const char* name;
    const char* reason;
};
const char kLauncherName[] = "KvoLauncher.exe";
const AlwaysExcluded kAlwaysExcluded[] = {
    {kLauncherName, "the launcher (publish it with --include-launcher)"},
    {"LobbyDate\\Update.INI", "the user's settings; the launcher writes PVer itself"},
    {"DownLoad", "the launcher's logs"},
    {release::kAreaDir, "the launcher's staging area and the backup of a release"},
    {kKeptIndexFolderName, "the launcher's indexes of the packages it installed"},
    {kTrustFileName, "the keys this installation trusts now, which only a key list changes"},
};

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> components(1);
    for (const char c : path) {
        if (c == '\\' || c == '/')
            components.emplace_back();
        else
            components.back().push_back(c);
    }
    components.erase(std::remove(components.begin(), components.end(), std::string()), components.end());
    return components;
}

/// True when `item` is the file or folder `prefix` or lies below it.
bool IsAtOrBelow(const ReleaseItem& item, const std::vector<std::string>& prefix)
{
    if (prefix.empty() || item.components.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!EqualsNoCase(item.components[i], prefix[i]))
            return false;
    }
    return true;
}

bool EndsWithNoCase(const std::string& text, const char* suffix)
{
    const std::string tail(suffix);
    return text.size() >= tail.size() && EqualsNoCase(text.substr(text.size() - tail.size()), tail);
}

/// The reason `item` is left out of every release, or null.
const char* ExclusionReason(const ReleaseItem& item, const PublishOptions& options)
{
    for (const AlwaysExcluded& excluded : kAlwaysExcluded) {
        if (options.includeLauncher && std::strcmp(excluded.name, kLauncherName) == 0)
            continue;
        if (IsAtOrBelow(item, SplitPath(excluded.name)))
            return excluded.reason;
    }
    if (!item.isDirectory && EndsWithNoCase(item.components.back(), CTempFileBeside::kSuffix))
        return "a temporary file of an interrupted download";
    return nullptr;
}

/// Checks the requested package folders and returns their items; errors go to the plan.
std::vector<PackagePlan> FindPackages(const std::vector<ReleaseItem>& tree, const PublishOptions& options,
                                      PublishPlan& plan)
{
    std::vector<PackagePlan> packages;
    for (const std::string& requested : options.packages) {
        const std::vector<std::string> components = SplitPath(requested);
        const auto folder = std::find_if(tree.begin(), tree.end(), [&](const ReleaseItem& item) {
            return item.isDirectory && item.components.size() == components.size() && IsAtOrBelow(item, components);
        });
        if (components.empty() || folder == tree.end()) {
            plan.errors.push_back("--package " + requested + ": no such folder in the release");
            continue;
        }
        const std::string name = folder->RelativeName();
        if (name.find('.') != std::string::npos) {
            plan.errors.push_back(name + ": a package's path must hold no '.' (the launcher takes the text after "
                                         "the first '.' as the extension, so " + name + ".zip would not be unpacked); "
                                         "rename the folder");
            continue;
        }
        const bool overlaps = std::any_of(packages.begin(), packages.end(), [&](const PackagePlan& other) {
            return IsAtOrBelow(*folder, other.folder.components) || IsAtOrBelow(other.folder, folder->components);
        });
        if (overlaps) {
            plan.errors.push_back("--package " + requested + ": overlaps another package");
            continue;
        }
        PackagePlan package;
        package.folder = *folder;
        packages.push_back(package);
    }
    return packages;
}

void CheckName(const ReleaseItem& item, const PublishOptions& options, PublishPlan& plan)
{
    const std::string problem = CheckPublishedName(item.components, options.installDir);
    if (!problem.empty())
        plan.errors.push_back(item.RelativeName() + ": " + problem);
    if (!item.isDirectory && item.size > kMaxPublishedSize)
        plan.errors.push_back(item.RelativeName() + ": 2 GiB or larger; the launcher reads sizes as 32-bit numbers");
}

}  // namespace

std::string PackagePlan::FileName() const
{
    return folder.RelativeName() + kPackageSuffix;
}

std::string PackagePlan::EntryName(const ReleaseItem& member) const
{
    const std::vector<std::string> relative(member.components.begin() + (folder.components.size() - 1),
                                            member.components.end());
    return JoinComponents(relative, '/') + (member.isDirectory ? "/" : "");
}

std::string CheckPublishedName(const std::vector<std::string>& components, const std::string& installDir)
{
    const std::string name = JoinComponents(components, '\\');
    for (const std::string& component : components) {
        if (component.find_first_of(kForbiddenNameCharacters) != std::string::npos)
            return "holds a character Windows does not allow in file names (one the system's code page cannot "
                   "write shows as '?'); rename it";
        if (!component.empty() && (component.back() == '.' || component.back() == ' '))
            return "a name ending in '.' or ' ' is changed by Windows; rename it";
    }
    if (!IsSafeRelativePath(name))
        return "the launcher refuses this name (absolute, a drive, '..', a device such as CON or NUL, or a "
               "control character); rename it";
    std::string joined;
    if (!JoinUnderBase(installDir, name + CTempFileBeside::kSuffix, joined))
        return "too long: under " + installDir + " it would not fit the launcher's " +
               std::to_string(kPathBufferSize) + "-byte paths (with the \"" + CTempFileBeside::kSuffix +
               "\" of the file it downloads first); shorten it or pass a shorter --install-dir";
    return std::string();
}

PublishPlan PlanRelease(const std::vector<ReleaseItem>& tree, const PublishOptions& options)
{
    PublishPlan plan;
    plan.packages = FindPackages(tree, options, plan);
    std::vector<std::string> looseFolders;
    for (const ReleaseItem& item : tree) {
        if (const char* reason = ExclusionReason(item, options)) {
            ReleaseItem top;
            top.components.assign(1, item.components.front());
            if (item.components.size() == 1 || !ExclusionReason(top, options))  // one note for a whole folder
                plan.notes.push_back("left out: " + item.RelativeName() + " (" + reason + ")");
            continue;
        }
        const bool excluded = std::any_of(options.excludes.begin(), options.excludes.end(),
                                          [&](const std::string& name) { return IsAtOrBelow(item, SplitPath(name)); });
        if (excluded)
            continue;
        const auto package = std::find_if(plan.packages.begin(), plan.packages.end(), [&](const PackagePlan& p) {
            return IsAtOrBelow(item, p.folder.components);
        });
        if (package != plan.packages.end()) {
            if (item.components.size() > package->folder.components.size()) {
                CheckName(item, options, plan);
                package->members.push_back(item);
            }
            continue;
        }
        if (item.isDirectory)
            continue;
        CheckName(item, options, plan);
        if (IsPackageFileName(item.RelativeName()))
            plan.errors.push_back(item.RelativeName() + ": the launcher would take this file for a package and "
                                  "unpack it (the text after the first '.' is \"zip\"); rename it, or publish "
                                  "its folder with --package");
        if (item.components.size() > 1) {
            const std::string folder = JoinComponents({item.components.begin(), item.components.end() - 1}, '\\');
            if (std::find(looseFolders.begin(), looseFolders.end(), folder) == looseFolders.end())
                looseFolders.push_back(folder);
        }
        plan.files.push_back(item);
    }
    for (const PackagePlan& package : plan.packages) {
        const std::string problem = CheckPublishedName(SplitPath(package.FileName()), options.installDir);
        if (!problem.empty())
            plan.errors.push_back(package.FileName() + ": " + problem);
        if (package.members.empty())
            plan.errors.push_back(package.FileName() + ": the folder is empty, and the launcher cannot open a "
                                  "package without entries");
        if (package.members.size() + 1 > kMaxPackageEntries)
            plan.errors.push_back(package.FileName() + ": more than 65534 files and folders for one package");
    }
    for (const std::string& folder : looseFolders)
        plan.notes.push_back(folder + "\\: its files are published one by one; the launcher creates no folders "
                             "for single files, so only installations that have this folder receive them (publish "
                             "it with --package to have it created)");
    return plan;
}
