#include "tools/publish/ManifestText.h"

#include "tools/publish/PublishText.h"

namespace {

const char kLineEnd[] = "\r\n";
const char kFlagOn[] = "YES";
const char kFlagOff[] = "NO";

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

void AppendFlag(std::string& text, const char* name, bool value)
{
    AppendElement(text, name, value ? kFlagOn : kFlagOff);
}

}  // namespace

std::string FormatManifest(const ManifestProduct& product, const std::vector<UpdateFileEntry>& entries)
{
    std::string text = "<?xml version=\"1.0\"?>";
    text += kLineEnd;
    text += "<UpdateInfo>";
    text += kLineEnd;
    text += "  <Product productname=\"" + XmlEscape(product.name) + "\" filenum=\"" + std::to_string(entries.size()) +
            "\" Ver=\"" + std::to_string(product.version) + "\"" +
            (product.expires.empty() ? std::string() : " Expires=\"" + XmlEscape(product.expires) + "\"") +
            (product.rollout < 0 ? std::string() : " Rollout=\"" + std::to_string(product.rollout) + "\"") + ">";
    text += kLineEnd;
    for (const std::string& mirror : product.mirrors) {
        text += "    <Mirror>" + XmlEscape(mirror) + "</Mirror>";
        text += kLineEnd;
    }
    for (const UpdateFileEntry& entry : entries) {
        text += "    <File>";
        text += kLineEnd;
        AppendElement(text, "FileName", entry.FileName);
        AppendElement(text, "FileVersion", entry.FileVersion);
        AppendElement(text, "Length", std::to_string(entry.Length));
        AppendElement(text, "LocalPath", entry.LocalPath);
        AppendElement(text, "URL", entry.URL);
        AppendElement(text, "FileDateHigh", std::to_string(entry.FileDateHigh));
        AppendElement(text, "FileDateLow", std::to_string(entry.FileDateLow));
        AppendFlag(text, "Register", entry.Register);
        AppendFlag(text, "ZipFile", entry.ZipFile);
        AppendFlag(text, "ForceOverwrite", entry.ForceOverwrite);
        AppendFlag(text, "Execute", entry.Execute);
        if (!entry.SHA256.empty())
            AppendElement(text, "SHA256", entry.SHA256);
        text += "    </File>";
        text += kLineEnd;
    }
    text += "  </Product>";
    text += kLineEnd;
    text += "</UpdateInfo>";
    text += kLineEnd;
    return text;
}

bool SetProductAttribute(std::string& document, const std::string& name, const std::string& value)
{
    const std::size_t tag = document.find("<Product ");
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
