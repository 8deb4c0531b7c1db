#include "tools/publish/PublishDelta.h"

#include <algorithm>
#include <map>
#include <numeric>

#include "framework/File.h"
#include "support/patch/PatchDiff.h"
#include "tools/publish/PublishText.h"
#include "update/Leftovers.h"

namespace {

const char kPatchFolder[] = "KvoPatches";
const char kPatchExtension[] = ".kvopatch";
constexpr std::size_t kPatchNameDigits = 16;
constexpr std::size_t kReadChunk = 1 << 20;

std::string ExtensionOf(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : UpperCased(name.substr(dot));
}

std::size_t CommonStart(const std::string& a, const std::string& b)
{
    const std::string upperA = UpperCased(a), upperB = UpperCased(b);
    const auto differ = std::mismatch(upperA.begin(), upperA.begin() + std::min(a.size(), b.size()), upperB.begin());
    return static_cast<std::size_t>(differ.first - upperA.begin());
}

bool SameFolder(const ReleaseItem& a, const ReleaseItem& b)
{
    return a.components.size() == b.components.size() &&
           std::equal(a.components.begin(), a.components.end() - 1, b.components.begin(),
                      [](const std::string& x, const std::string& y) { return EqualsNoCase(x, y); });
}

std::string ReadFileBytes(const std::string& path)
{
    std::string content;
    if (!ReadWholeFile(path, content))
        throw kvo::CFileException(kvo::CFileException::generic, static_cast<long>(::GetLastError()), path);
    return content;
}

Sha256Digest DigestOf(const std::string& bytes)
{
    return CSha256::Of(bytes.data(), bytes.size());
}

Sha256Digest DigestOfFile(const std::string& path)
{
    Sha256Digest digest;
    if (!HashFile(path, digest))
        throw kvo::CFileException(kvo::CFileException::generic, static_cast<long>(::GetLastError()), path);
    return digest;
}

/// The package member's entry name for an item of an earlier release, whose package folder lies
/// at `folder` in it.
std::string EarlierEntryName(const ReleaseItem& item, const ReleaseItem& folder)
{
    const std::vector<std::string> relative(item.components.begin() + (folder.components.size() - 1),
                                            item.components.end());
    return JoinComponents(relative, '/');
}

/// True when `item` lies below `folder` (compared without case).
bool IsBelow(const ReleaseItem& item, const ReleaseItem& folder)
{
    return item.components.size() > folder.components.size() &&
           std::equal(folder.components.begin(), folder.components.end(), item.components.begin(),
                      [](const std::string& x, const std::string& y) { return EqualsNoCase(x, y); });
}

/// The SHA-256 of `length` bytes of `file` from `offset`, as 64 hexadecimal digits.
std::string HashOfRange(kvo::CFile& file, std::uint32_t offset, std::uint32_t length)
{
    std::vector<char> buffer(kReadChunk);
    CSha256 hash;
    file.Seek(offset, kvo::CFile::begin);
    for (std::uint32_t left = length; left > 0;) {
        const unsigned got = file.Read(buffer.data(), std::min<std::uint32_t>(left, kReadChunk));
        if (got == 0)
            throw kvo::CFileException(kvo::CFileException::endOfFile, 0, file.GetFilePath());
        hash.Update(buffer.data(), got);
        left -= got;
    }
    return Sha256Hex(hash.Finish());
}

}  // namespace

std::vector<PreviousRelease> ScanPreviousReleases(const std::vector<std::string>& folders)
{
    std::vector<PreviousRelease> releases;
    for (const std::string& folder : folders)
        releases.push_back({FullPathOf(folder), ScanReleaseTree(FullPathOf(folder))});
    return releases;
}

const ReleaseItem* FindCounterpart(const PreviousRelease& release, const ReleaseItem& file,
                                   const std::set<std::string>& newNames)
{
    const std::string name = file.RelativeName();
    const ReleaseItem* best = nullptr;
    std::size_t bestStart = 0;
    for (const ReleaseItem& item : release.items) {
        if (item.isDirectory)
            continue;
        if (EqualsNoCase(item.RelativeName(), name))
            return &item;
        const std::string& oldName = item.components.back();
        if (!SameFolder(item, file) || ExtensionOf(oldName) != ExtensionOf(file.components.back()) ||
            newNames.count(UpperCased(item.RelativeName())))
            continue;
        const std::size_t start = CommonStart(oldName, file.components.back());
        const auto sizeGap = [&](const ReleaseItem* candidate) {
            return candidate->size > file.size ? candidate->size - file.size : file.size - candidate->size;
        };
        if (start > bestStart || (best && start == bestStart && sizeGap(&item) < sizeGap(best))) {
            best = &item;
            bestStart = start;
        }
    }
    return best;
}

std::uint64_t AddFilePatches(const ReleaseItem& file, const Sha256Digest& digest,
                             const std::vector<PreviousRelease>& previous, const std::set<std::string>& newNames,
                             const PatchPlace& place, UpdateFileEntry& entry)
{
    std::uint64_t written = 0;
    std::set<Sha256Digest> seen{digest};
    std::string newBytes;
    for (const PreviousRelease& release : previous) {
        const ReleaseItem* counterpart = FindCounterpart(release, file, newNames);
        if (!counterpart)
            continue;
        const std::string oldBytes = ReadFileBytes(counterpart->fullPath);
        const Sha256Digest from = DigestOf(oldBytes);
        if (!seen.insert(from).second)
            continue;
        if (newBytes.empty())
            newBytes = ReadFileBytes(file.fullPath);
        const std::string patchBytes =
            MakePatch(reinterpret_cast<const unsigned char*>(oldBytes.data()), oldBytes.size(),
                      reinterpret_cast<const unsigned char*>(newBytes.data()), newBytes.size());
        if (patchBytes.size() >= newBytes.size())
            continue;
        const std::string name = Sha256Hex(digest).substr(0, kPatchNameDigits) + "-" +
                                 Sha256Hex(from).substr(0, kPatchNameDigits) + kPatchExtension;
        WriteFileInPlace(place.outFolder + kPatchFolder + "\\" + name, patchBytes);
        FilePatch patch;
        patch.Source = counterpart->RelativeName();
        patch.From = Sha256Hex(from);
        patch.Length = static_cast<int>(patchBytes.size());
        patch.SHA256 = Sha256Hex(DigestOf(patchBytes));
        patch.URL = place.baseUrl + kPatchFolder + "/" + name;
        entry.Patches.push_back(std::move(patch));
        written += patchBytes.size();
    }
    return written;
}

PackageIndex IndexOfPackage(const PackagePlan& package)
{
    PackageIndex index;
    for (const ReleaseItem& member : package.members)
        if (!member.isDirectory)
            index[package.EntryName(member)] = DigestOfFile(member.fullPath);
    return index;
}

PackageOrder OrderPackage(const PackagePlan& package, const std::vector<PreviousRelease>& previous)
{
    PackageOrder order;
    std::vector<const ReleaseItem*> files;
    for (const ReleaseItem& member : package.members)
        (member.isDirectory ? order.folders : files).push_back(&member);
    order.index = IndexOfPackage(package);
    for (const PreviousRelease& release : previous) {
        PackageIndex earlier;
        for (const ReleaseItem& item : release.items)
            if (!item.isDirectory && IsBelow(item, package.folder))
                earlier[EarlierEntryName(item, package.folder)] = DigestOfFile(item.fullPath);
        order.previousIndex.push_back(std::move(earlier));
    }
    std::vector<std::size_t> differing(files.size(), 0);
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& name = package.EntryName(*files[i]);
        for (std::size_t j = 0; j < order.previousIndex.size(); ++j) {
            const auto found = order.previousIndex[j].find(name);
            if (found == order.previousIndex[j].end() || found->second != order.index[name])
                differing[i] = j + 1;
        }
    }
    std::vector<std::size_t> positions(files.size());
    std::iota(positions.begin(), positions.end(), 0);
    std::stable_sort(positions.begin(), positions.end(),
                     [&](std::size_t a, std::size_t b) { return differing[a] < differing[b]; });
    for (const std::size_t position : positions) {
        order.files.push_back(files[position]);
        order.newestDiffering.push_back(differing[position]);
    }
    return order;
}

void AddPackageDeltas(const PackageOrder& order, const std::vector<std::uint32_t>& offsets, std::uint32_t dataEnd,
                      const std::string& packagePath, std::uint32_t packageLength, UpdateFileEntry& entry)
{
    std::set<Sha256Digest> seen{PackageIndexHash(order.index)};
    kvo::CFile package;
    kvo::CFileException error(kvo::CFileException::none, 0, packagePath);
    if (!package.Open(packagePath.c_str(), kvo::CFile::modeRead | kvo::CFile::shareDenyWrite, &error))
        throw error;
    // The central directory too: a player that must repair one entry finds it there.
    entry.Directory = {dataEnd, packageLength - dataEnd, HashOfRange(package, dataEnd, packageLength - dataEnd)};
    // From the newest earlier release backwards: the same earlier package listed once.
    for (std::size_t j = order.previousIndex.size(); j-- > 0;) {
        const PackageIndex& earlier = order.previousIndex[j];
        const Sha256Digest from = PackageIndexHash(earlier);
        if (!seen.insert(from).second || earlier.empty())
            continue;
        const auto first = std::find_if(order.newestDiffering.begin(), order.newestDiffering.end(),
                                        [&](std::size_t newest) { return newest >= j + 1; });
        const std::uint32_t start = first == order.newestDiffering.end()
                                        ? dataEnd
                                        : offsets[static_cast<std::size_t>(first - order.newestDiffering.begin())];
        if (dataEnd - start > packageLength / 2)
            continue;
        PackageDelta delta;
        delta.From = Sha256Hex(from);
        delta.Offset = start;
        delta.Length = dataEnd - start;
        delta.SHA256 = HashOfRange(package, start, delta.Length);
        for (const auto& old : earlier)
            if (!order.index.count(old.first))
                delta.Removed.push_back(old.first);
        entry.Deltas.push_back(std::move(delta));
    }
}
