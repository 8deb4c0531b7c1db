// The floor of a start with no update due: the platform calls the road cannot do without (the
// instance guard, the lobby's window looked for, the settings read, the manifest fetched over
// WinINet and loaded into the system's XML component) and then the lobby started, with none of
// the launcher's own code. What the launcher's start costs beyond it is the launcher's.
//   BenchStartFloor.exe MANIFEST-URL
#include <windows.h>
#include <msxml2.h>
#include <objbase.h>
#include <wininet.h>

#include <string>

#include "framework/ComPtr.h"
#include "framework/Handles.h"

namespace {

// The version-independent DOMDocument class, as the launcher creates it.
const CLSID kDomDocumentClsid = {0x2933BF90, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
constexpr DWORD kReadBlock = 4096;

std::string Fetch(const char* url)
{
    std::string body;
    const kvo::unique_hinternet session(::InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    const kvo::unique_hinternet file(::InternetOpenUrlA(session.get(), url, nullptr, 0,
                                                        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 1));
    char block[kReadBlock];
    DWORD got = 0;
    while (file && ::InternetReadFile(file.get(), block, sizeof block, &got) && got > 0)
        body.append(block, got);
    return body;
}

void LoadIntoDom(const std::string& text)
{
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    kvo::CComPtr<IXMLDOMDocument> document;
    if (FAILED(::CoCreateInstance(kDomDocumentClsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                  document.PutVoid())))
        return;
    const std::wstring wide(text.begin(), text.end());
    kvo::unique_bstr bstr(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    VARIANT_BOOL loaded = VARIANT_FALSE;
    document->loadXML(bstr.get(), &loaded);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR url, int)
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    dir.erase(dir.rfind('\\') + 1);
    const kvo::unique_handle guard(::CreateMutexA(nullptr, FALSE, "KvoDownloadFloor"));
    ::WaitForSingleObject(guard.get(), 0);
    ::FindWindowA("KVOGAME", nullptr);
    ::GetPrivateProfileIntA("VerInfo", "PVer", 0, (dir + "LobbyDate\\Update.INI").c_str());
    LoadIntoDom(Fetch(url));
    ::WinExec((dir + "KVOLobby.exe").c_str(), SW_SHOW);
    return 0;
}
