#!/usr/bin/env python3
"""The whole update with the real launcher: a full run from nginx (an old module replaced, a
current one skipped, a package unpacked), the failure boxes, a server that dies or falls silent
in the middle of a body, and the window closed while a download runs. Whatever happens, the old
files stay whole until a complete new one replaces them."""
import os
import shutil
import tempfile
import time

import kvo_e2e
from kvo_e2e import CAPTION, FIXTURE_DIR, PRIMARY_PORT, LauncherTestCase, answer_box, package_bytes, read_bytes
from kvo_e2e import NginxSite

INSTALLED_VERSION = 4
SERVER_VERSION = 5


OLD_MODULE = read_bytes(os.path.join(FIXTURE_DIR, "Version1234.dll"))    # reports 1.2.3.4
NEW_MODULE = read_bytes(os.path.join(FIXTURE_DIR, "VersionHigh.dll"))    # reports 10.20.65535.40000
NEW_MODULE_VERSION = "10.20.65535.40000"
PER_FILE_TEXT = "文件更新失败，请从官网下载更新!"
FINAL_CAPTION = "Kvo更新程序!"
FINAL_TEXT = "更新失败，请从官网下载更新"
PACKAGE_FILES = {"data/readme.txt": b"read me\r\n", "lang/zh/strings.txt": "大厅".encode("gbk")}
# Far beyond the launcher's 30 s receive time-out, so only that time-out can end the wait.
SILENCE_SECONDS = 200
BOX_TIMEOUT_MS = 90000
# A server silent on every attempt: four time-outs and the waits of 1, 2 and 4 s between them.
RETRIED_SILENCE_BOX_TIMEOUT_MS = 4 * 30000 + 7000 + 40000
# The body of a slow download: long enough to be cut in the middle.
SLOW_BODY_SIZE = 3000000
SLOW_CHUNK = 10240


def manifest(entries, version=SERVER_VERSION):
    return kvo_e2e.manifest(entries, version)


def url(path):
    return "http://127.0.0.1:%d%s" % (PRIMARY_PORT, path)


def temporary_files(directory):
    return sorted(os.path.relpath(os.path.join(parent, name), directory)
                  for parent, _, names in os.walk(directory) for name in names if name.endswith(".kvotmp"))


class UpdateRun(LauncherTestCase):
    def installation_with_modules(self):
        installation = self.make_installation(pver=INSTALLED_VERSION)
        for name in ("Module.dll", "Current.dll"):
            with open(installation.path(name), "wb") as out:
                out.write(OLD_MODULE)
        return installation

    def healthy_site(self):
        return self.site(manifest([("Module.dll", NEW_MODULE_VERSION, url("/files/Module.dll")),
                                   ("Current.dll", "1.2.3.4", url("/files/Current.dll")),
                                   ("pack.zip", "", url("/files/pack.zip"))]),
                         {"Module.dll": NEW_MODULE, "Current.dll": NEW_MODULE,
                          "pack.zip": package_bytes(PACKAGE_FILES)})

    def assert_complete_update(self, installation, server):
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(read_bytes(installation.path("Module.dll")), NEW_MODULE)
        self.assertEqual(read_bytes(installation.path("Current.dll")), OLD_MODULE, "a current file stays")
        for name, data in PACKAGE_FILES.items():
            self.assertEqual(read_bytes(installation.path(*name.split("/"))), data)
        self.assertFalse(os.path.exists(installation.path("pack.zip")))
        self.assertEqual(temporary_files(installation.dir), [])
        self.assertEqual(installation.log_lines()[-6:], [
            "正在下载 pack.zip", "pack.zip  下载成功", "Current.dll 当前已是最新",
            "正在下载 Module.dll", "Module.dll  下载成功", "版本%d  更新完成" % SERVER_VERSION])
        self.assertEqual(installation.pver(), str(SERVER_VERSION))
        self.assertEqual([cmdline for cmdline, _ in installation.lobby_starts(expect=1)],
                         [installation.expected_lobby_command_line()])
        self.assertNotIn("/files/Current.dll", server.access_paths())

    def assert_nothing_recorded(self, installation):
        self.assertEqual(installation.pver(), str(INSTALLED_VERSION))
        self.assertEqual(installation.lobby_starts(), [])

    def test_full_update_from_nginx(self):
        installation = self.installation_with_modules()
        server = self.nginx(self.healthy_site())
        self.assert_complete_update(installation, server)
        self.assertEqual(server.access_paths(),
                         ["/AutoUpdate/update.xml", "/files/pack.zip", "/files/Module.dll"])

    def test_failing_download_stops_the_run_with_the_per_file_box(self):
        installation = self.installation_with_modules()
        self.nginx(self.site(manifest([("Missing.dll", NEW_MODULE_VERSION, url("/files/Missing.dll")),
                                       ("Module.dll", NEW_MODULE_VERSION, url("/files/Module.dll"))]),
                             {"Module.dll": NEW_MODULE}))
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        owned, text = answer_box(CAPTION, "cancel", BOX_TIMEOUT_MS)
        self.assertFalse(owned)
        self.assertEqual(text, PER_FILE_TEXT)
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assertEqual(read_bytes(installation.path("Module.dll")), NEW_MODULE, "processed first")
        self.assertFalse(os.path.exists(installation.path("Missing.dll")))
        self.assertRegex(installation.log_lines()[-1], r"^Missing\.dll 更新失败 \d+$")
        self.assert_nothing_recorded(installation)

    def test_failing_package_ends_with_the_final_box(self):
        installation = self.installation_with_modules()
        self.nginx(self.site(manifest([("Module.dll", NEW_MODULE_VERSION, url("/files/Module.dll")),
                                       ("bad.zip", "", url("/files/bad.zip"))]),
                             {"Module.dll": NEW_MODULE, "bad.zip": b"PK\x03\x04 and then nothing of an archive"}))
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        owned, text = answer_box(FINAL_CAPTION, "ok", BOX_TIMEOUT_MS)
        self.assertTrue(owned, "the final box belongs to the progress window")
        self.assertEqual(text, FINAL_TEXT)
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assertEqual(read_bytes(installation.path("Module.dll")), NEW_MODULE)
        self.assertFalse(os.path.exists(installation.path("bad.zip")))
        lines = installation.log_lines()
        self.assertEqual(lines[-2], "版本%d  更新完成" % SERVER_VERSION)
        self.assertRegex(lines[-1], r"^更新失败 -?\d+$")
        self.assertNotIn(PER_FILE_TEXT, lines)
        self.assert_nothing_recorded(installation)

    def slow_download_site(self, options):
        """The test server: the manifest names Module.dll at a slow /gen body with `options`."""
        root = self.site(manifest([("Module.dll", NEW_MODULE_VERSION,
                                    url("/gen?size=%d&chunk=%d%s" % (SLOW_BODY_SIZE, SLOW_CHUNK, options)))]))
        return self.serve(PRIMARY_PORT, root, stall=SILENCE_SECONDS)

    def wait_for_body_request(self, server):
        kvo_e2e.wait_for(lambda: any(r["path"].startswith("/gen") for r in server.requests()), 60,
                         "the download's request")
        time.sleep(1)  # some of the body has arrived and been written by now

    def assert_old_module_whole(self, installation):
        self.assertEqual(read_bytes(installation.path("Module.dll")), OLD_MODULE)
        self.assert_nothing_recorded(installation)

    def test_server_killed_mid_body_then_a_healthy_server_completes_the_update(self):
        installation = self.installation_with_modules()
        server = self.slow_download_site("")
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.wait_for_body_request(server)
        server.close()

        owned, text = answer_box(CAPTION, "cancel", BOX_TIMEOUT_MS)
        self.assertEqual(text, PER_FILE_TEXT)
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assert_old_module_whole(installation)
        self.assertEqual(temporary_files(installation.dir), [])

        self.assert_complete_update(installation, self.nginx(self.healthy_site()))

    def test_server_silent_mid_body_fails_within_the_receive_time_out(self):
        installation = self.installation_with_modules()
        server = self.slow_download_site("&stall_after=100000&stall_for=%d" % SILENCE_SECONDS)
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.wait_for_body_request(server)
        # Only the receive time-out (four times: the download is retried) can bring this box before
        # the server speaks again.
        owned, text = answer_box(CAPTION, "cancel", RETRIED_SILENCE_BOX_TIMEOUT_MS)
        self.assertEqual(text, PER_FILE_TEXT)
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assert_old_module_whole(installation)
        self.assertEqual(temporary_files(installation.dir), [])
        retries = [line for line in installation.log_lines() if "下载失败" in line]
        self.assertEqual(len(retries), 3, installation.log_lines())
        self.assertEqual(len([r for r in server.requests() if r["path"].startswith("/gen")]), 4)

    def test_closing_the_window_mid_download_ends_the_program_and_keeps_the_old_file(self):
        installation = self.installation_with_modules()
        server = self.slow_download_site("&stall_after=100000&stall_for=%d" % SILENCE_SECONDS)
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.wait_for_body_request(server)
        # The progress window has no title: Escape (IDCANCEL) sent to it, as the user would press it.
        self.assertIsNotNone(answer_box("", "cancel", BOX_TIMEOUT_MS), "the progress window")
        self.assertEqual(launcher.wait(timeout=30), 0)
        self.assert_old_module_whole(installation)
        # What the cut download left is only its temporary file, which the next run overwrites.
        self.assertIn(temporary_files(installation.dir), ([], ["Module.dll.kvotmp"]))
        server.close()
        self.assert_complete_update(installation, self.nginx(self.healthy_site()))


if __name__ == "__main__":
    kvo_e2e.main()
