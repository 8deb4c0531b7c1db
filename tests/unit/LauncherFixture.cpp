// A program that does nothing: with the update key resource of the hosts library it links, it
// stands for a launcher built with that key (or with none) in the self-update and publishing checks.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
