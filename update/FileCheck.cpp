#include "update/FileCheck.h"

#include <algorithm>
#include <cstdint>
#include <cctype>
#include <cstdio>
#include <vector>

#include "framework/Exceptions.h"
#include "support/PeImage.h"
#include "support/Sha256.h"
#include "update/EntryRoad.h"

namespace {

const char kPackageExtension[] = "zip";
constexpr std::size_t kVersionFieldCount = 4;
constexpr unsigned kWordBits = 16;
constexpr DWORD kWordMask = 0xFFFF;
constexpr std::size_t kVersionTextSize = 32;

/// The numbers of a text "a.b.c.d" (decimal digits only), leading zeros dropped; false otherwise.
bool SplitDottedVersion(const std::string& text, std::vector<std::string>& parts)
{
    parts.assign(1, std::string());
    for (const char c : text) {
        if (c == '.')
            parts.emplace_back();
        else if (std::isdigit(static_cast<unsigned char>(c)))
            parts.back().push_back(c);
        else
            return false;
    }
    if (parts.size() != kVersionFieldCount)
        return false;
    for (std::string& part : parts) {
        if (part.empty())
            return false;
        const std::size_t first = part.find_first_not_of('0');
        part.erase(0, first == std::string::npos ? part.size() - 1 : first);
    }
    return true;
}

/// Decimal numbers of any length without leading zeros: the longer is the larger.
int CompareDecimal(const std::string& left, const std::string& right)
{
    if (left.size() != right.size())
        return left.size() < right.size() ? -1 : 1;
    return left.compare(right);
}

int CompareTextNoCase(const std::string& left, const std::string& right)
{
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const int a = std::tolower(static_cast<unsigned char>(left[i]));
        const int b = std::tolower(static_cast<unsigned char>(right[i]));
        if (a != b)
            return a < b ? -1 : 1;
    }
    if (left.size() == right.size())
        return 0;
    return left.size() < right.size() ? -1 : 1;
}

/// True when the entry lists a SHA-256 and its local file has exactly those bytes.
bool HasListedContent(const EntryRoad& road)
{
    Sha256Digest local;
    if (!road.IsHashChecked())
        return false;
    try {
        return HashFile(road.localPath, local) && local == road.listed;
    } catch (const kvo::CException&) {
        return false;  // no hash to be had: the download decides
    }
}

}  // namespace

bool IsPackageFileName(const std::string& fileName)
{
    const std::size_t dot = fileName.find('.');
    const std::string extension = dot == std::string::npos ? fileName : fileName.substr(dot + 1);
    return extension == kPackageExtension;
}

namespace {

HRESULT VersionText(bool found, const VS_FIXEDFILEINFO& fixed, std::string& version)
{
    if (!found)
        return HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
    char text[kVersionTextSize];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", static_cast<unsigned>(fixed.dwFileVersionMS >> kWordBits),
                  static_cast<unsigned>(fixed.dwFileVersionMS & kWordMask),
                  static_cast<unsigned>(fixed.dwFileVersionLS >> kWordBits),
                  static_cast<unsigned>(fixed.dwFileVersionLS & kWordMask));
    version = text;
    return S_OK;
}

}  // namespace

HRESULT GetFileVersionString(const std::string& path, std::string& version)
{
    VS_FIXEDFILEINFO fixed{};
    const bool found = ReadPeFileVersion(path, fixed);
    return VersionText(found, fixed, version);
}

HRESULT GetFileVersionString(HANDLE file, std::string& version)
{
    VS_FIXEDFILEINFO fixed{};
    const bool found = ReadPeFileVersion(file, fixed);
    return VersionText(found, fixed, version);
}

int CompareVersionTexts(const std::string& left, const std::string& right)
{
    std::vector<std::string> leftParts;
    std::vector<std::string> rightParts;
    if (SplitDottedVersion(left, leftParts) && SplitDottedVersion(right, rightParts)) {
        for (std::size_t i = 0; i < kVersionFieldCount; ++i) {
            if (const int order = CompareDecimal(leftParts[i], rightParts[i]))
                return order;
        }
        return 0;
    }
    return CompareTextNoCase(left, right);
}

bool IsFileOutdated(const EntryRoad& road)
{
    if (road.isPackage)
        return true;
    // A file that cannot be read has neither a version nor the listed bytes: it is downloaded.
    std::string localVersion;
    if (SUCCEEDED(GetFileVersionString(road.localPath, localVersion)) &&
        CompareVersionTexts(road.entry.FileVersion, localVersion) <= 0)
        return false;
    // The version rule alone would download it; a file that already holds the listed bytes is
    // current all the same (data files have no version to compare).
    return !HasListedContent(road);
}

bool IsFileOutdated(const UpdateFileEntry& entry, const std::string& moduleDir)
{
    return IsFileOutdated(TakeEntry(entry, moduleDir));
}
