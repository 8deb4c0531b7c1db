// Opening the official web site from a launcher that runs as administrator. A browser started by
// the launcher itself would run elevated too, with every page it then opens; the desktop's own
// shell (Explorer, which runs with the player's ordinary rights) starts it instead.
#pragma once

/// The ways of opening an address, as seams for tests.
struct WebSiteRoutes {
    bool (*isElevated)();                          ///< this process runs with administrator rights
    bool (*throughDesktopShell)(const char* url);  ///< asks the desktop's shell to open it
    bool (*direct)(const char* url);               ///< opens it from this process
};

/// Opens `url` with the player's ordinary rights: directly when this process has no more, else
/// through the desktop's shell, and never from an elevated process. False when it was not opened.
bool OpenWebSiteUnelevated(const char* url, const WebSiteRoutes& routes);

/// The routes of the running system.
const WebSiteRoutes& SystemWebSiteRoutes();
