// The optional drawing engine "D2DEngine.dll": found once, told when a skin image goes away.
#pragma once
#include <windows.h>

/// The engine's interface as the launcher sees it: only the eighth operation is ever called.
class IDrawEngine {
public:
    virtual void Reserved1() = 0;
    virtual void Reserved2() = 0;
    virtual void Reserved3() = 0;
    virtual void Reserved4() = 0;
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    /// An image known to the engine as `name` is being released; the result means nothing here.
    virtual int ReleaseImage(int reserved, const char* name) = 0;

protected:
    ~IDrawEngine() = default;  // the engine owns its object
};

/// The engine's export, called without arguments.
using CreateDrawEngineFn = IDrawEngine* (*)();

inline constexpr char kDrawEngineLibrary[] = "D2DEngine.dll";
inline constexpr char kDrawEngineFactory[] = "CreateD2DEngine";

/// Loads `library` from the program's own directory (by its full path) and asks its factory for the
/// engine; null when any step fails. The library stays loaded for the rest of the process.
IDrawEngine* LoadDrawEngine(const char* library) noexcept;

/// The process's engine: looked up on the first call only, never retried; null without one.
IDrawEngine* GetDrawEngine() noexcept;
