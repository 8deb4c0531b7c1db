#include "update/LauncherCheck.h"

#include "update/BuildHosts.h"
#include "framework/Handles.h"
#include "framework/LibrarySearch.h"
#include "update/UpdateErrors.h"
#include "update/UpdateKeyResource.h"

namespace {

#ifndef LOAD_LIBRARY_AS_IMAGE_RESOURCE
constexpr DWORD LOAD_LIBRARY_AS_IMAGE_RESOURCE = 0x00000020;
#endif
// Resources only: no code of the file is mapped to run, none of its imports is loaded.
constexpr DWORD kResourceOnly = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;

std::string ReadUpdateKeyResource(const std::string& path)
{
    const kvo::unique_hmodule module(::LoadLibraryExA(path.c_str(), nullptr, kResourceOnly));
    if (!module)
        return {};
    const HRSRC found = ::FindResourceA(module.get(), IDR_UPDATE_KEY, RT_RCDATA);
    const HGLOBAL loaded = found ? ::LoadResource(module.get(), found) : nullptr;
    const void* bytes = loaded ? ::LockResource(loaded) : nullptr;
    return bytes ? std::string(static_cast<const char*>(bytes), ::SizeofResource(module.get(), found)) : std::string();
}

}  // namespace

bool ReadLauncherImage(const std::string& path, LauncherImage& image)
{
    if (!ReadPeImageKind(path, image.kind))
        return false;
    image.updateKey = ReadUpdateKeyResource(path);
    return true;
}

DWORD CheckReplacementLauncher(const std::string& path, const LauncherImage& running)
{
    LauncherImage candidate;
    if (!ReadLauncherImage(path, candidate) || !IsWholeModuleImage(path) || !(candidate.kind == running.kind) ||
        (!running.updateKey.empty() && candidate.updateKey != running.updateKey))
        return kErrorLauncherRefused;
    return ERROR_SUCCESS;
}

LauncherImage RunningLauncherImage()
{
    LauncherImage running;
    ReadPeImageKind(kvo::RunningProgramPath(), running.kind);
    running.updateKey = kUpdatePublicKey;
    return running;
}
