#include "app/KvoLauncherApp.h"

#include <commctrl.h>

#include <memory>

#include "BuildConfig.h"
#include "update/BuildHosts.h"
#include "app/Desktop.h"
#include "app/KvoLauncherDlg.h"
#include "app/LobbyWatch.h"
#include "update/Settings.h"
#include "framework/LibrarySearch.h"
#include "support/Log.h"
#include "update/Manifest.h"
#include "update/ReleaseWatch.h"
#include "update/ManifestFormat.h"
#include "update/Rollout.h"
#include "update/SelfUpdate.h"
#include "update/UpdateEngine.h"

CKvoLauncherApp theApp;

namespace {

constexpr DWORD kModuleNameBufferSize = 500;
constexpr DWORD kLobbyExitCode = 4;
const char kLobbyRunningText[] = "检测到大厅正在运行，请先关闭大厅!";
const char kOutsideRolloutPrefix[] = "本机不在本次分批发布范围  分组 ";
const char kRolloutInfix[] = "  Rollout ";
const char kIdNotKeptPrefix[] = "安装标识无法保存  分组 ";
const char kLibraryMissingPrefix[] = "系统组件无法加载 ";
// The delay-loaded libraries of each road: the manifest's fetch and check, and the window.
constexpr std::initializer_list<const char*> kUpdateCheckLibraries = {"wininet.dll", "bcrypt.dll"};
constexpr std::initializer_list<const char*> kWindowLibraries = {"comctl32.dll", "gdiplus.dll", "msimg32.dll"};

std::string ManifestUrl(const char* host) { return std::string("http://") + host + manifest::kServerPath; }

}  // namespace

bool IsUpdateDue(int serverVersion, unsigned installedVersion, bool hasFiles)
{
    // Unsigned, as the versions were always compared: a Ver of -1 is above every installed one.
    return static_cast<unsigned>(serverVersion) > installedVersion && hasFiles;
}

bool IsInRollout(CUpdateEngine& engine)
{
    if (engine.m_nRollout >= kFullRollout)
        return true;  // no id is made or read for a release that reaches everyone
    const std::string installId = ReadOrMakeInstallId(engine.m_strModuleDir);
    if (installId.empty())
        engine.m_log.WriteLog((kIdNotKeptPrefix + std::to_string(kLastBucket)).c_str());
    const int bucket = RolloutBucket(installId, engine.m_nServerVer);
    if (bucket < engine.m_nRollout)
        return true;
    engine.m_log.WriteLog((kOutsideRolloutPrefix + std::to_string(bucket) + kRolloutInfix +
                           std::to_string(engine.m_nRollout)).c_str());
    return false;
}

bool LoadRoadLibraries(std::initializer_list<const char*> libraries, CLog& log)
{
    for (const char* library : libraries) {
        // Kept loaded for the life of the process, so that every later delay-loaded call finds it.
        if (!kvo::LoadSystemLibrary(library)) {
            log.WriteLog((kLibraryMissingPrefix + std::string(library) + " " +
                          std::to_string(static_cast<int>(::GetLastError()))).c_str());
            return false;
        }
    }
    return true;
}

kvo::unique_handle StartLobby(const std::string& moduleDir)
{
    // The command line is the bare path, as the lobby has always received it.
    const std::string lobbyPath = moduleDir + kLobbyProgramName;
    return Desktop().StartProgram(lobbyPath, lobbyPath);
}

void CKvoLauncherApp::StartLobby(CUpdateEngine& engine) const
{
    if (!m_bReleaseUnwatched) {
        ::StartLobby(m_strModuleDir);
        return;
    }
    StartWatchedLobby(
        m_strModuleDir, engine.m_log, [this] { return ::StartLobby(m_strModuleDir); }, engine.m_policy.lobbyWatchMs);
}

int CKvoLauncherApp::Run()
{
    const int exitCode = kvo::CWinApp::Run();
    WaitForLobbyWatch();
    return exitCode;
}

bool CKvoLauncherApp::TakeInstanceGuard()
{
    m_hInstanceGuard.reset(::CreateMutexA(nullptr, FALSE, kInstanceGuardName));
    if (!m_hInstanceGuard)
        return false;
    const DWORD wait = ::WaitForSingleObject(m_hInstanceGuard.get(), 0);
    return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

bool CKvoLauncherApp::HandleRunningLobby() const
{
    const HWND lobby = ::FindWindowA(kLobbyWindowClass, nullptr);
    if (!lobby)
        return true;
    if (Desktop().ShowMessageBox(nullptr, kLobbyRunningText, kLauncherCaption, MB_OKCANCEL) == IDOK) {
        DWORD processId = 0;
        ::GetWindowThreadProcessId(lobby, &processId);
        kvo::unique_handle process(::OpenProcess(PROCESS_TERMINATE, FALSE, processId));
        if (process)
            ::TerminateProcess(process.get(), kLobbyExitCode);
        return true;
    }
    if (::IsIconic(lobby))
        ::ShowWindow(lobby, SW_RESTORE);
    ::SetActiveWindow(lobby);
    ::BringWindowToTop(lobby);
    ::SetForegroundWindow(lobby);
    return false;
}

void CKvoLauncherApp::FixModuleDir()
{
    char moduleName[kModuleNameBufferSize] = {};
    ::GetModuleFileNameA(nullptr, moduleName, kModuleNameBufferSize - 1);
    m_strModuleDir = moduleName;
    const std::size_t lastSeparator = m_strModuleDir.rfind('\\');
    m_strModuleDir.erase(lastSeparator == std::string::npos ? 0 : lastSeparator + 1);
}

BOOL CKvoLauncherApp::InitInstance()
{
    if (!TakeInstanceGuard())
        return FALSE;
    if (!HandleRunningLobby())
        return FALSE;

    FixModuleDir();
    // The engine belongs to start-up until a window takes it; the window deletes itself.
    auto engine = std::make_unique<CUpdateEngine>(m_strModuleDir);
    // A commit an earlier start left half done is finished first, whatever the network says.
    m_bReleaseUnwatched = FinishEarlierRelease(m_strModuleDir, engine->m_log);
    m_nInstalledVersion = ReadInstalledVersion(m_strModuleDir);

    if (!LoadRoadLibraries(kUpdateCheckLibraries, engine->m_log) ||
        (!ParseManifest(*engine, ManifestUrl(kPrimaryUpdateHost)) &&
         !ParseManifest(*engine, ManifestUrl(kFallbackUpdateHost)))) {
        StartLobby(*engine);
        return FALSE;
    }
    // This start has a manifest it trusts: the copy a self-update set aside is no longer the last
    // one known to work.
    RemoveOldProgramCopy();

    const bool due = IsUpdateDue(engine->m_nServerVer, m_nInstalledVersion, !engine->m_files.empty()) &&
                     !IsUndoneRelease(m_strModuleDir, engine->m_nServerVer, engine->m_log) && IsInRollout(*engine);
    engine->PruneStaging(due);
    if (!due) {
        StartLobby(*engine);
        return FALSE;
    }

    // The common controls only for the window: a start without an update never loads them.
    if (!LoadRoadLibraries(kWindowLibraries, engine->m_log)) {
        StartLobby(*engine);
        return FALSE;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);
    auto dialog = std::make_unique<CKvoLauncherDlg>(std::move(engine));
    if (!dialog->Create(nullptr)) {
        // Without its window the run cannot happen: leave the installation as it is.
        StartLobby(dialog->Engine());
        return FALSE;
    }
    CKvoLauncherDlg* window = dialog.release();
    m_hMainWnd = window->GetSafeHwnd();
    ::ShowWindow(m_hMainWnd, SW_SHOW);
    return TRUE;
}
