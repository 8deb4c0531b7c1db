#include "update/LauncherCheck.h"

#include "framework/Handles.h"
#include "framework/LibrarySearch.h"
#include "update/TrustState.h"
#include "update/TrustedKeys.h"
#include "update/UpdateErrors.h"
#include "update/UpdateKeyResource.h"

namespace {

const WCHAR kUpdateKeyName[] = L"" IDR_UPDATE_KEY;
constexpr int kRawDataType = 10;  // RT_RCDATA

kvo::unique_hfile OpenForReading(const std::string& path)
{
    return kvo::unique_hfile(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
}

/// True when a candidate built with the roots of `candidateText` keeps the trust of a launcher
/// that trusts the roots of `runningText` now (any, when it trusts none).
bool KeepsTrust(const std::string& candidateText, const std::string& runningText)
{
    if (runningText.empty())
        return true;
    RootSet candidate;
    RootSet running;
    return ParseRootSetText(candidateText, candidate) && ParseRootSetText(runningText, running) &&
           SameRootSet(candidate, running);
}

}  // namespace

bool ReadLauncherImage(HANDLE file, LauncherImage& image)
{
    // Read from the file's resource tree, not loaded: nothing of a downloaded copy is mapped.
    if (!ReadPeImageKind(file, image.kind))
        return false;
    if (!ReadPeResource(file, kRawDataType, kUpdateKeyName, image.updateKey))
        image.updateKey.clear();
    return true;
}

bool ReadLauncherImage(const std::string& path, LauncherImage& image)
{
    const kvo::unique_hfile file = OpenForReading(path);
    return file && ReadLauncherImage(file.get(), image);
}

DWORD CheckReplacementLauncher(HANDLE file, const LauncherImage& running)
{
    LauncherImage candidate;
    if (!ReadLauncherImage(file, candidate) || !IsWholeModuleImage(file) || !(candidate.kind == running.kind) ||
        !KeepsTrust(candidate.updateKey, running.updateKey))
        return kErrorLauncherRefused;
    return ERROR_SUCCESS;
}

DWORD CheckReplacementLauncher(const std::string& path, const LauncherImage& running)
{
    const kvo::unique_hfile file = OpenForReading(path);
    return file ? CheckReplacementLauncher(file.get(), running) : kErrorLauncherRefused;
}

LauncherImage RunningLauncherImage()
{
    LauncherImage running;
    ReadPeImageKind(kvo::RunningProgramPath(), running.kind);
    std::string programDir = kvo::RunningProgramPath();
    programDir.erase(programDir.rfind('\\') + 1);
    running.updateKey = TrustedRootText(programDir, CTrustedKeys::BuiltIn());
    return running;
}

std::string TrustedRootText(const std::string& programDir, const CTrustedKeys& builtIn)
{
    if (!builtIn.RequireSignature() || !IsUsableRootSet(builtIn.Roots()))
        return {};
    // The roots in effect now, after every rotation this installation has walked.
    bool unreadable = false;
    return FormatRootSetText(LoadTrust(programDir, builtIn.Roots(), unreadable).roots);
}
