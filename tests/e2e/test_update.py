#!/usr/bin/env python3
"""The whole update with the real launcher: the window closed while a download runs replaces
nothing, not even a file downloaded in full before; the next start, from nginx, replaces an old
module, skips a current one and unpacks a package. A release whose lobby crashes is undone."""
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
    def test_closing_the_window_mid_download_replaces_nothing_and_the_next_start_completes(self):
        installation = self.make_installation(pver=INSTALLED_VERSION)
        for name in ("Module.dll", "Current.dll"):
            write_bytes(installation.path(name), OLD_MODULE)
        write_bytes(installation.path("data.txt"), b"old data")
        # The last entry is taken first: data.txt arrives whole before the slow module is cut.
        slow = self.serve(PRIMARY_PORT, self.site(manifest([("Module.dll", NEW_MODULE_VERSION, url(SLOW_BODY)),
                                                            ("data.txt", "", url("/files/data.txt"))], SERVER_VERSION),
                                                  {"data.txt": b"new data"}), stall=SILENCE_SECONDS)
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        kvo_e2e.wait_for(lambda: any(r["path"].startswith("/gen") for r in slow.requests()), 60, "the download")
        time.sleep(1)  # some of the body has arrived and been written by now
        # The progress window has no title: Escape (IDCANCEL) sent to it, as the user would press it.
        self.assertIsNotNone(answer_box("", "cancel", BOX_TIMEOUT_MS), "the progress window")
        self.assertEqual(launcher.wait(timeout=30), 0)
        self.assertEqual(read_bytes(installation.path("Module.dll")), OLD_MODULE)
        self.assertEqual(read_bytes(installation.path("data.txt")), b"old data", "whole, but staged only")
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


    def test_a_release_whose_lobby_crashes_is_undone_and_not_taken_again_until_a_higher_one(self):
        installation = self.make_installation(pver=INSTALLED_VERSION)
        write_bytes(installation.path("data.txt"), b"old data")
        # The bad release brings the file that makes the stub lobby crash at its start.
        bad = [("data.txt", "", url("/files/data.txt")), ("lobby-crash.txt", "", url("/files/lobby-crash.txt"))]
        files = {"data.txt": b"new data", "lobby-crash.txt": b"crash"}
        root = self.site(manifest(bad, SERVER_VERSION), files)
        server = self.nginx(root)
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(read_bytes(installation.path("data.txt")), b"old data")
        self.assertFalse(os.path.exists(installation.path("lobby-crash.txt")))
        self.assertEqual(installation.pver(), str(INSTALLED_VERSION))
        self.assertIn("大厅无法启动  版本%d 已撤回到版本%d  代码 0xC0000005" % (SERVER_VERSION, INSTALLED_VERSION),
                      installation.log_lines())
        self.assertEqual(len(installation.lobby_starts(expect=2)), 2, "the crashed lobby, then the restored one")

        self.assertEqual(installation.run_launcher(), 0)  # the same release again: not taken
        self.assertEqual(installation.log_lines()[-1], "版本%d 已撤回  不再安装" % SERVER_VERSION)
        self.assertEqual(read_bytes(installation.path("data.txt")), b"old data")
        self.assertEqual(len(installation.lobby_starts(expect=3)), 3)
        self.assertEqual([path for path in server.access_paths() if path.startswith("/files/")],
                         ["/files/data.txt", "/files/lobby-crash.txt"][::-1])

        write_bytes(os.path.join(root, "AutoUpdate", "update.xml"), manifest(bad[:1], SERVER_VERSION + 1))
        self.assertEqual(installation.run_launcher(), 0)  # a higher release is taken
        self.assertEqual(read_bytes(installation.path("data.txt")), b"new data")
        self.assertEqual(installation.pver(), str(SERVER_VERSION + 1))
        self.assertFalse(os.path.exists(installation.path("KvoRelease")))


if __name__ == "__main__":
    kvo_e2e.main()
