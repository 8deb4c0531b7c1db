#include "app/KvoLauncherApp.h"

#include <commctrl.h>

#include <memory>

#include "BuildConfig.h"
#include "app/BuildHosts.h"
#include "app/Desktop.h"
#include "app/KvoLauncherDlg.h"
#include "app/Settings.h"
#include "framework/LibrarySearch.h"
#include "support/Log.h"
#include "update/Manifest.h"
#include "update/Rollout.h"
#include "update/SelfUpdate.h"

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

std::string ManifestUrl(const char* host) { return std::string("http://") + host + KVO_MANIFEST_PATH; }

}  // namespace

bool IsUpdateDue(int serverVersion, unsigned installedVersion, bool hasFiles)
{
    // Unsigned, as the versions were always compared: a Ver of -1 is above every installed one.
    return static_cast<unsigned>(serverVersion) > installedVersion && hasFiles;
}

bool IsInRollout(CKvoLauncherDlg& dialog)
{
    if (dialog.m_nRollout >= kFullRollout)
        return true;  // no id is made or read for a release that reaches everyone
    const std::string installId = ReadOrMakeInstallId(dialog.m_strModuleDir);
    if (installId.empty())
        dialog.m_log.WriteLog((kIdNotKeptPrefix + std::to_string(kLastBucket)).c_str());
    const int bucket = RolloutBucket(installId, dialog.m_nServerVer);
    if (bucket < dialog.m_nRollout)
        return true;
    dialog.m_log.WriteLog((kOutsideRolloutPrefix + std::to_string(bucket) + kRolloutInfix +
                           std::to_string(dialog.m_nRollout)).c_str());
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

void StartLobby(const std::string& moduleDir)
{
    // The command line is the bare path, as the lobby has always received it.
    const std::string lobbyPath = moduleDir + kLobbyProgramName;
    Desktop().StartProgram(lobbyPath, lobbyPath);
}

void CKvoLauncherApp::StartLobby() const
{
    ::StartLobby(m_strModuleDir);
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
    m_nInstalledVersion = ReadInstalledVersion(m_strModuleDir);

    // The dialog belongs to start-up until its window exists; then the window deletes it.
    auto dialog = std::make_unique<CKvoLauncherDlg>(m_strModuleDir);
    if (!LoadRoadLibraries(kUpdateCheckLibraries, dialog->m_log) ||
        (!ParseManifest(*dialog, ManifestUrl(kPrimaryUpdateHost)) &&
         !ParseManifest(*dialog, ManifestUrl(kFallbackUpdateHost)))) {
        StartLobby();
        return FALSE;
    }
    // This start has a manifest it trusts: the copy a self-update set aside is no longer the last
    // one known to work.
    RemoveOldProgramCopy();

    if (!IsUpdateDue(dialog->m_nServerVer, m_nInstalledVersion, !dialog->m_files.empty()) || !IsInRollout(*dialog)) {
        StartLobby();
        return FALSE;
    }

    // The common controls only for the window: a start without an update never loads them.
    if (!LoadRoadLibraries(kWindowLibraries, dialog->m_log)) {
        StartLobby();
        return FALSE;
    }
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES;
    ::InitCommonControlsEx(&controls);
    if (!dialog->Create(nullptr)) {
        // Without its window the run cannot happen: leave the installation as it is.
        StartLobby();
        return FALSE;
    }
    CKvoLauncherDlg* window = dialog.release();
    m_hMainWnd = window->GetSafeHwnd();
    ::ShowWindow(m_hMainWnd, SW_SHOW);
    return TRUE;
}
