#include "tools/publish/ManifestText.h"

#include <windows.h>

#include "tools/publish/PublishText.h"
#include "update/ManifestExpiry.h"
#include "update/ManifestFormat.h"

namespace {

using namespace manifest;

const char kLineEnd[] = "\r\n";

void AppendElement(std::string& text, const char* name, const std::string& value)
{
    text += "      <";
    text += name;
    text += ">";
    text += XmlEscape(value);
    text += "</";
    text += name;
    text += ">";
    text += kLineEnd;
}

/// ` name="value"`, the value already escaped.
std::string Attribute(const char* name, const std::string& value)
{
    return std::string(" ") + name + "=\"" + value + "\"";
}

void AppendFlag(std::string& text, const char* name, bool value)
{
    AppendElement(text, name, value ? kFlagOn : kFlagOff);
}

/// `<name attributes>text</name>` on a line of its own, the attributes already formatted.
void AppendElementWith(std::string& text, const char* name, const std::string& attributes, const std::string& value)
{
    text += std::string("      <") + name + attributes + ">" + XmlEscape(value) + "</" + name + ">" + kLineEnd;
}

/// The patches, index and changed ranges that let a launcher fetch less than the whole file.
void AppendShortcuts(std::string& text, const UpdateFileEntry& entry)
{
    for (const FilePatch& patch : entry.Patches)
        AppendElementWith(text, kPatch,
                          Attribute(kSource, XmlEscape(patch.Source)) + Attribute(kFrom, patch.From) +
                              Attribute(kLength, std::to_string(patch.Length)) + Attribute(kSha256, patch.SHA256),
                          patch.URL);
    if (!entry.Index.empty())
        AppendElementWith(text, kIndex,
                          entry.Directory.Length == 0
                              ? std::string()
                              : Attribute(kOffset, std::to_string(entry.Directory.Offset)) +
                                    Attribute(kLength, std::to_string(entry.Directory.Length)) +
                                    Attribute(kSha256, entry.Directory.SHA256),
                          entry.Index);
    for (const PackageDelta& delta : entry.Deltas) {
        std::string removed;
        for (const std::string& name : delta.Removed)
            removed += (removed.empty() ? "" : std::string(1, kRemovedSeparator)) + name;
        AppendElementWith(text, kDelta,
                          Attribute(kFrom, delta.From) + Attribute(kOffset, std::to_string(delta.Offset)) +
                              Attribute(kLength, std::to_string(delta.Length)) + Attribute(kSha256, delta.SHA256),
                          removed);
    }
}

}  // namespace

std::string FormatManifest(const ManifestProduct& product, const std::vector<UpdateFileEntry>& entries)
{
    std::string text = "<?xml version=\"1.0\"?>";
    text += kLineEnd;
    text += std::string("<") + kRoot + ">";
    text += kLineEnd;
    text += std::string("  <") + kProduct + Attribute(kProductName, XmlEscape(product.name)) +
            Attribute(kFileCount, std::to_string(entries.size())) + Attribute(kVersion, std::to_string(product.version)) +
            (product.expires.empty() ? std::string() : Attribute(kExpires, XmlEscape(product.expires))) +
            (product.rollout < 0 ? std::string() : Attribute(kRollout, std::to_string(product.rollout))) + ">";
    text += kLineEnd;
    for (const std::string& mirror : product.mirrors) {
        text += std::string("    <") + kMirror + ">" + XmlEscape(mirror) + "</" + kMirror + ">";
        text += kLineEnd;
    }
    for (const UpdateFileEntry& entry : entries) {
        text += std::string("    <") + kFile + ">";
        text += kLineEnd;
        AppendElement(text, kFileName, entry.FileName);
        AppendElement(text, kFileVersion, entry.FileVersion);
        AppendElement(text, kLength, std::to_string(entry.Length));
        AppendElement(text, kLocalPath, entry.LocalPath);
        AppendElement(text, kUrl, entry.URL);
        AppendElement(text, kFileDateHigh, std::to_string(entry.FileDateHigh));
        AppendElement(text, kFileDateLow, std::to_string(entry.FileDateLow));
        AppendFlag(text, kRegister, entry.Register);
        AppendFlag(text, kZipFile, entry.ZipFile);
        AppendFlag(text, kForceOverwrite, entry.ForceOverwrite);
        AppendFlag(text, kExecute, entry.Execute);
        if (!entry.SHA256.empty())
            AppendElement(text, kSha256, entry.SHA256);
        AppendShortcuts(text, entry);
        text += std::string("    </") + kFile + ">";
        text += kLineEnd;
    }
    text += std::string("  </") + kProduct + ">";
    text += kLineEnd;
    text += std::string("</") + kRoot + ">";
    text += kLineEnd;
    return text;
}

bool SetProductAttribute(std::string& document, const std::string& name, const std::string& value)
{
    const std::size_t tag = document.find(std::string("<") + kProduct + " ");
    const std::size_t tagEnd = tag == std::string::npos ? std::string::npos : document.find('>', tag);
    if (tagEnd == std::string::npos)
        return false;
    const std::string quoted = "\"" + XmlEscape(value) + "\"";
    const std::string prefix = " " + name + "=\"";
    const std::size_t attribute = document.find(prefix, tag);
    if (attribute != std::string::npos && attribute < tagEnd) {
        const std::size_t valueStart = attribute + prefix.size() - 1;  // at the opening quote
        const std::size_t valueEnd = document.find('"', valueStart + 1);
        if (valueEnd == std::string::npos || valueEnd > tagEnd)
            return false;
        document.replace(valueStart, valueEnd + 1 - valueStart, quoted);
        return true;
    }
    const std::size_t insertAt = document[tagEnd - 1] == '/' ? tagEnd - 1 : tagEnd;
    document.insert(insertAt, " " + name + "=" + quoted);
    return true;
}

std::string ExpiryInDays(int days)
{
    constexpr ULONGLONG kTicksPerDay = 864000000000ULL;  // 100-ns ticks
    const FILETIME now = UtcNow();
    const ULONGLONG then = ((ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime) + kTicksPerDay * days;
    FILETIME expiry{};
    expiry.dwLowDateTime = static_cast<DWORD>(then);
    expiry.dwHighDateTime = static_cast<DWORD>(then >> 32);
    return FormatUtcTime(expiry);
}
