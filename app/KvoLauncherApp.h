// The application object: instance guard, lobby check, installed version and the start-up decision.
#pragma once
#include <initializer_list>
#include <string>

#include "framework/App.h"
#include "framework/Handles.h"

class CUpdateEngine;
class CLog;

/// Whether a manifest of `serverVersion` with `hasFiles` updates an installation at
/// `installedVersion`: the versions compare as unsigned 32-bit numbers.
bool IsUpdateDue(int serverVersion, unsigned installedVersion, bool hasFiles);

/// Whether this installation takes the release the engine's manifest describes: always for a
/// Rollout of 100; otherwise when its bucket (from its installation id, made and kept at the first
/// need) is below the Rollout. An installation outside the share logs its bucket and the Rollout.
bool IsInRollout(CUpdateEngine& engine);

/// Loads the delay-loaded system libraries that a road of the start calls, before it is taken: one
/// that cannot be loaded would otherwise end the launcher at its first call, with no log line and
/// no lobby. False, with the library and the error number logged, when one cannot be loaded.
bool LoadRoadLibraries(std::initializer_list<const char*> libraries, CLog& log);

/// Starts "KVOLobby.exe" of the installation at `moduleDir`: its process, empty when it could not
/// be started. Nothing waits for it unless the caller does.
kvo::unique_handle StartLobby(const std::string& moduleDir);

class CKvoLauncherApp : public kvo::CWinApp {
public:
    CKvoLauncherApp() = default;
    ~CKvoLauncherApp() override = default;

    BOOL InitInstance() override;
    /// The window's message loop, then the watch of a new release's lobby, if one was begun.
    int Run() override;

    /// Starts "KVOLobby.exe" from the program directory; nothing waits for it, unless this start
    /// finished a commit whose lobby was never watched (StartWatchedLobby, logged to `engine`).
    void StartLobby(CUpdateEngine& engine) const;

    std::string m_strModuleDir;          ///< the program's directory, ending in a backslash
    unsigned m_nInstalledVersion = 0;    ///< "PVer" of the settings file, 0 when unreadable

private:
    /// True when this process holds the instance guard.
    bool TakeInstanceGuard();
    /// True when start-up may go on: no lobby running, or the user let it be ended.
    bool HandleRunningLobby() const;
    void FixModuleDir();

    kvo::unique_handle m_hInstanceGuard;  // held for the life of the process
    bool m_bReleaseUnwatched = false;     // a cut commit was finished: its lobby is watched
};

extern CKvoLauncherApp theApp;

/// Names the launcher shares with other programs on the machine.
inline constexpr char kInstanceGuardName[] = "KvoDownload";
inline constexpr char kLobbyWindowClass[] = "KVOGAME";
inline constexpr char kLobbyProgramName[] = "KVOLobby.exe";
inline constexpr char kLauncherCaption[] = "Kvo更新程序";
