#include "update/LauncherCheck.h"

#include "update/BuildHosts.h"
#include "framework/Handles.h"
#include "framework/LibrarySearch.h"
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
        (!running.updateKey.empty() && candidate.updateKey != running.updateKey))
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
    running.updateKey = kUpdatePublicKey;
    return running;
}
