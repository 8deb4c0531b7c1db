// A module with nothing but a version resource; the file-check tests read its version.
#include <windows.h>

extern "C" __declspec(dllexport) int FixtureModuleMarker() { return 1; }
