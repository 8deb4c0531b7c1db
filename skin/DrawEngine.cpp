#include "skin/DrawEngine.h"

#include "framework/LibrarySearch.h"

IDrawEngine* LoadDrawEngine(const char* library) noexcept
{
    // Never freed: the engine's code must stay for as long as its object may be called. Only the
    // program's own directory is looked at, never the current directory or PATH.
    const HMODULE module = kvo::LoadProgramDirectoryLibrary(library);
    if (!module)
        return nullptr;
    const auto factory = reinterpret_cast<CreateDrawEngineFn>(
        reinterpret_cast<void*>(::GetProcAddress(module, kDrawEngineFactory)));
    return factory ? factory() : nullptr;
}

IDrawEngine* GetDrawEngine() noexcept
{
    // Set up on the user-interface thread, during the dialog's construction, before any worker runs.
    static IDrawEngine* const engine = LoadDrawEngine(kDrawEngineLibrary);
    return engine;
}
