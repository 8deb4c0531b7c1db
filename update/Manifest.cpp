#include "update/Manifest.h"

#include <objbase.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "app/KvoLauncherDlg.h"
#include "support/VorelXML.h"
#include "update/ManifestFetch.h"

namespace {

const char kProductPattern[] = "Product";
const char kFilePattern[] = "Product//File";
const char kFlagOff[] = "NO";
constexpr int kDecimalBase = 10;

/// One File element; false when its FileName is empty, in which case nothing else is read.
bool ReadFileEntry(CVorelXML& xml, UpdateFileEntry& entry)
{
    entry.FileName = xml.GetChildText("FileName");
    if (entry.FileName.empty())
        return false;
    entry.FileVersion = xml.GetChildText("FileVersion");
    entry.Length = ManifestNumber(xml.GetChildText("Length"));
    entry.LocalPath = xml.GetChildText("LocalPath");
    entry.URL = xml.GetChildText("URL");
    entry.FileDateHigh = ManifestNumber(xml.GetChildText("FileDateHigh"));
    entry.FileDateLow = ManifestNumber(xml.GetChildText("FileDateLow"));
    entry.Register = ManifestFlag(xml.GetChildText("Register"));
    entry.ZipFile = ManifestFlag(xml.GetChildText("ZipFile"));
    entry.ForceOverwrite = ManifestFlag(xml.GetChildText("ForceOverwrite"));
    entry.Execute = ManifestFlag(xml.GetChildText("Execute"));
    return true;
}

}  // namespace

int ManifestNumber(const std::string& text)
{
    // long is 32 bits on this platform, and strtol clamps where atoi's result is undefined.
    return static_cast<int>(std::strtol(text.c_str(), nullptr, kDecimalBase));
}

bool ManifestFlag(const std::string& text)
{
    return text != kFlagOff;
}

bool ReadManifestText(CKvoLauncherDlg& dialog, const std::string& text)
{
    // Each parse adds one initialisation on the thread; the process ends soon after start-up.
    ::CoInitialize(nullptr);
    try {
        CVorelXML xml;
        if (FAILED(xml.CreateDocument()))
            xml.m_bCreateFailed = 1;  // LoadXml then raises, and the caller tries the next host
        if (!xml.LoadXml(text.c_str()))
            return false;
        xml.SelectNodes(kProductPattern);
        if (!xml.NextNode())
            return false;
        xml.GetAttribute("productname");
        ManifestNumber(xml.GetAttribute("filenum"));  // not checked against the File count
        const int serverVersion = ManifestNumber(xml.GetAttribute("Ver"));

        // Entries are gathered first, so a failure half-way leaves the list as it was.
        std::vector<UpdateFileEntry> entries;
        xml.SelectNodes(kFilePattern);
        while (xml.NextNode()) {
            UpdateFileEntry entry;
            if (ReadFileEntry(xml, entry))
                entries.push_back(std::move(entry));
        }

        dialog.m_nServerVer = serverVersion;
        dialog.m_files.insert(dialog.m_files.end(), entries.begin(), entries.end());
        const int count = static_cast<int>(dialog.m_files.size());
        dialog.m_nFileCount = count;
        dialog.m_nFilesLeft = count;
        return true;
    } catch (const CComError&) {
        // The XML component could not be had or refused a step: this host's manifest is unusable.
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool ParseManifest(CKvoLauncherDlg& dialog, std::string url)
{
    std::string text;
    if (!FetchManifest(dialog, std::move(url), text))
        return false;
    return ReadManifestText(dialog, text);
}
