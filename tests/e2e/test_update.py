#!/usr/bin/env python3
"""The whole update with the real launcher: the window closed while a download runs keeps the old
file whole; the next start, from nginx, replaces an old module, skips a current one and unpacks a
package."""
import os
import time

import kvo_e2e
from kvo_e2e import (FIXTURE_DIR, PRIMARY_PORT, LauncherTestCase, answer_box, manifest, package_bytes, read_bytes,
                     write_bytes)

INSTALLED_VERSION = 4
SERVER_VERSION = 5
OLD_MODULE = read_bytes(os.path.join(FIXTURE_DIR, "Version1234.dll"))    # reports 1.2.3.4
NEW_MODULE = read_bytes(os.path.join(FIXTURE_DIR, "VersionHigh.dll"))    # reports 10.20.65535.40000
NEW_MODULE_VERSION = "10.20.65535.40000"
PACKAGE_FILES = {"data/readme.txt": b"read me\r\n", "lang/zh/strings.txt": "大厅".encode("gbk")}
# Far beyond every time-out of the launcher: only the user can end this wait.
SILENCE_SECONDS = 200
BOX_TIMEOUT_MS = 90000
# A slow body, silent after its first part.
SLOW_BODY = "/gen?size=3000000&chunk=10240&stall_after=100000&stall_for=%d" % SILENCE_SECONDS


def url(path):
    return "http://127.0.0.1:%d%s" % (PRIMARY_PORT, path)


class UpdateRun(LauncherTestCase):
    def test_closing_the_window_mid_download_keeps_the_old_file_and_the_next_start_completes(self):
        installation = self.make_installation(pver=INSTALLED_VERSION)
        for name in ("Module.dll", "Current.dll"):
            write_bytes(installation.path(name), OLD_MODULE)
        slow = self.serve(PRIMARY_PORT, self.site(manifest([("Module.dll", NEW_MODULE_VERSION, url(SLOW_BODY))],
                                                           SERVER_VERSION)), stall=SILENCE_SECONDS)
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        kvo_e2e.wait_for(lambda: any(r["path"].startswith("/gen") for r in slow.requests()), 60, "the download")
        time.sleep(1)  # some of the body has arrived and been written by now
        # The progress window has no title: Escape (IDCANCEL) sent to it, as the user would press it.
        self.assertIsNotNone(answer_box("", "cancel", BOX_TIMEOUT_MS), "the progress window")
        self.assertEqual(launcher.wait(timeout=30), 0)
        self.assertEqual(read_bytes(installation.path("Module.dll")), OLD_MODULE)
        self.assertEqual(installation.pver(), str(INSTALLED_VERSION))
        self.assertEqual(installation.lobby_starts(), [])
        slow.close()

        site = self.site(manifest([("Module.dll", NEW_MODULE_VERSION, url("/files/Module.dll")),
                                   ("Current.dll", "1.2.3.4", url("/files/Current.dll")),
                                   ("pack.zip", "", url("/files/pack.zip"))], SERVER_VERSION),
                         {"Module.dll": NEW_MODULE, "Current.dll": NEW_MODULE,
                          "pack.zip": package_bytes(PACKAGE_FILES)})
        server = self.nginx(site)
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(read_bytes(installation.path("Module.dll")), NEW_MODULE)
        self.assertEqual(read_bytes(installation.path("Current.dll")), OLD_MODULE, "a current file stays")
        for name, data in PACKAGE_FILES.items():
            self.assertEqual(read_bytes(installation.path(*name.split("/"))), data)
        self.assertEqual([name for name in os.listdir(installation.dir) if name.startswith(("pack", "Module.dll."))],
                         [], "neither the package nor a temporary file is left")
        self.assertEqual(installation.log_lines()[-6:], [
            "正在下载 pack.zip", "pack.zip  下载成功", "Current.dll 当前已是最新",
            "正在下载 Module.dll", "Module.dll  下载成功", "版本%d  更新完成" % SERVER_VERSION])
        self.assertEqual(installation.pver(), str(SERVER_VERSION))
        self.assertEqual(installation.lobby_starts(expect=1), [installation.expected_lobby_command_line()])
        self.assertEqual(server.access_paths(), ["/AutoUpdate/update.xml", "/files/pack.zip", "/files/Module.dll"])


if __name__ == "__main__":
    kvo_e2e.main()
