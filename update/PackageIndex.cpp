#include "update/PackageIndex.h"

#include "update/ReleaseArea.h"

namespace {

constexpr std::size_t kHexDigits = 64;
const char kIndexExtension[] = ".idx";

}  // namespace

std::string FormatPackageIndex(const PackageIndex& index)
{
    std::string text;
    for (const auto& entry : index) {
        text += Sha256Hex(entry.second);
        text += ' ';
        text += entry.first;
        text += '\n';
    }
    return text;
}

bool ParsePackageIndex(const std::string& text, PackageIndex& index)
{
    PackageIndex parsed;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos || end < start + kHexDigits + 2 || text[start + kHexDigits] != ' ')
            return false;
        Sha256Digest digest;
        if (!ParseSha256Hex(text.substr(start, kHexDigits), digest))
            return false;
        std::string name = text.substr(start + kHexDigits + 1, end - start - kHexDigits - 1);
        if (!parsed.empty() && !(parsed.rbegin()->first < name))
            return false;  // out of order or repeated: not a text this program wrote
        parsed.emplace_hint(parsed.end(), std::move(name), digest);
        start = end + 1;
    }
    index = std::move(parsed);
    return true;
}

Sha256Digest PackageIndexHash(const PackageIndex& index)
{
    const std::string text = FormatPackageIndex(index);
    return CSha256::Of(text.data(), text.size());
}

std::string KeptIndexName(const std::string& fileName)
{
    return kKeptIndexFolder + CReleaseArea::StagedNameFor(fileName) + kIndexExtension;
}
