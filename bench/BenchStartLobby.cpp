// The baseline of the no-update start: a program that does nothing but start the lobby beside
// itself, the way the launcher does.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string lobby(path);
    lobby.erase(lobby.rfind('\\') + 1);
    lobby += "KVOLobby.exe";
    ::WinExec(lobby.c_str(), SW_SHOW);
    return 0;
}
