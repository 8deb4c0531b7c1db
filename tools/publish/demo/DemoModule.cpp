// A lobby module with nothing but a version resource: the sample release of the demo and the
// publishing tool's tests read its version.
#include <windows.h>

extern "C" __declspec(dllexport) int DemoModuleVersionMarker() { return 1; }
