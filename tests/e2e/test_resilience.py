#!/usr/bin/env python3
"""The real launcher on real networks and machines: a download killed with the process is resumed
at the next start with a range for the rest only; the launcher refuses a copy of itself built for
another processor, replaces itself with one that runs here and removes its old copy once the
release is confirmed; a staging area or staged file that leads outside the installation is refused;
and a package larger than the free space fails with nothing written."""
import hashlib
import os
import shutil
import struct
import subprocess
import tempfile

import kvo_e2e
from kvo_e2e import (CAPTION, PRIMARY_PORT, LauncherTestCase, answer_box, manifest, package_bytes, read_bytes,
                     write_bytes)
from test_http_server import pattern_bytes

INSTALLED_VERSION = 4
SERVER_VERSION = 5
FINAL_CAPTION = "Kvo更新程序!"
BOX_TIMEOUT_MS = 90000
SLOW_SIZE = 3000000          # sent in 10240-byte pieces, 20 ms apart: about six seconds
SMALL_VOLUME = "6m"
LAUNCHER_REFUSED = 0x20000003
ERROR_INTERNET_TIMEOUT = 12002
IMAGE_FILE_MACHINE_ARM64 = 0xAA64
STAGING_REFUSED = 0x20000005


def url(path):
    return "http://127.0.0.1:%d%s" % (PRIMARY_PORT, path)


def with_file_version(program, major, minor, build, revision):
    """`program` with another file version in its fixed version record."""
    at = kvo_e2e.fixed_version_offset(program)
    assert at >= 0, "no version resource"
    version = struct.pack("<II", major << 16 | minor, build << 16 | revision)
    return program[:at + 8] + version + program[at + 16:]


def for_another_machine(program):
    """`program` with the machine type of another processor's build in its file header."""
    machine_at = struct.unpack_from("<I", program, 0x3C)[0] + 4
    return program[:machine_at] + struct.pack("<H", IMAGE_FILE_MACHINE_ARM64) + program[machine_at + 2:]


class Resilience(LauncherTestCase):
    def test_a_download_killed_with_the_process_is_resumed_at_the_next_start(self):
        installation = self.make_installation(pver=INSTALLED_VERSION)
        body = pattern_bytes(SLOW_SIZE)
        entry = ("data.bin", "", url("/gen?size=%d&chunk=10240" % SLOW_SIZE), hashlib.sha256(body).hexdigest())
        server = self.serve(PRIMARY_PORT, self.site(manifest([entry], SERVER_VERSION)))
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        staged = installation.staged_path("data.bin")
        kvo_e2e.wait_for(lambda: os.path.exists(staged) and os.path.getsize(staged) > SLOW_SIZE // 10, 60,
                         "a part of the body")
        kvo_e2e.stop_wine_process(launcher)  # killed: no destructor, no clean-up
        kept = os.path.getsize(staged)
        self.assertLess(kept, SLOW_SIZE)
        self.assertFalse(os.path.exists(installation.path("data.bin")), "nothing is put in place before the end")

        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(read_bytes(installation.path("data.bin")), body)
        self.assertFalse(os.path.exists(installation.path("KvoRelease")), "the area goes with a confirmed release")
        self.assertEqual(installation.pver(), str(SERVER_VERSION))
        ranges = [r["headers"].get("Range") for r in server.requests() if r["path"].startswith("/gen")]
        self.assertEqual(ranges, [None, "bytes=%d-" % kept], "the second start asks only for the rest")

    def test_the_launcher_replaces_itself_only_with_a_copy_that_runs_here_and_keeps_the_old_one_until_confirmed(self):
        installation = self.make_installation(pver=INSTALLED_VERSION)
        old = read_bytes(installation.path("KvoLauncher.exe"))
        new = with_file_version(old, 1, 0, 0, 1)

        def publish(root, launcher):
            entry = ("KvoLauncher.exe", "1.0.0.1", url("/files/KvoLauncher.exe"), hashlib.sha256(launcher).hexdigest())
            write_bytes(os.path.join(root, "AutoUpdate", "update.xml"), manifest([entry], SERVER_VERSION))
            write_bytes(os.path.join(root, "files", "KvoLauncher.exe"), launcher)

        root = self.site(b"")
        publish(root, for_another_machine(new))  # signed and hashed alike, but no player could start it
        server = self.serve(PRIMARY_PORT, root)
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.assertIsNotNone(answer_box(CAPTION, "cancel", BOX_TIMEOUT_MS), "the per-file failure box")
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assertEqual(read_bytes(installation.path("KvoLauncher.exe")), old)
        self.assertEqual(installation.log_lines()[-1], "KvoLauncher.exe 更新失败 %d" % LAUNCHER_REFUSED)
        self.assertEqual([name for name in os.listdir(installation.dir) if name.startswith("KvoLauncher.exe.")], [])

        publish(root, new)
        self.assertEqual(installation.run_launcher(), 0)  # the old copy, still working
        self.assertEqual(read_bytes(installation.path("KvoLauncher.exe")), new)
        self.assertEqual(installation.pver(), str(SERVER_VERSION))
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1)
        # The copy that ran is the release's backup until its lobby is confirmed; a copy that is
        # running may not be removable then: the next start removes it, whatever the network says.
        backups = [read_bytes(os.path.join(folder, name))
                   for folder, _, names in os.walk(installation.path("KvoRelease", "backup")) for name in names]
        self.assertIn(backups, ([], [old]))

        server.close()
        self.assertEqual(installation.run_launcher(), 0)
        self.assertFalse(os.path.exists(installation.path("KvoRelease")))
        self.assertEqual([name for name in os.listdir(installation.dir) if name.startswith("KvoLauncher.exe.")], [])
        server = self.serve(PRIMARY_PORT, root)
        self.assertEqual(installation.run_launcher(), 0)  # a manifest, nothing to do
        self.assertEqual(len(installation.lobby_starts(expect=3)), 3)
        self.assertEqual([r["path"] for r in server.requests() if r["path"].startswith("/files/")], [])

    def test_staging_that_leads_outside_the_installation_is_refused_and_writes_nothing_there(self):
        body = b"the new data file\r\n"
        entry = ("data.bin", "", url("/files/data.bin"), hashlib.sha256(body).hexdigest())

        def link_area(installation, outside):
            os.makedirs(installation.path("KvoRelease"))
            os.symlink(outside, installation.path("KvoRelease", "staged"))

        def link_staged_file(installation, outside):
            os.makedirs(os.path.dirname(installation.staged_path("data.bin")))
            write_bytes(os.path.join(outside, "victim.txt"), b"precious")
            os.symlink(os.path.join(outside, "victim.txt"), installation.staged_path("data.bin"))

        for what, plant in (("the staging folder is a link", link_area), ("a staged file is a link", link_staged_file)):
            with self.subTest(what):
                installation = self.make_installation(pver=INSTALLED_VERSION)
                write_bytes(installation.path("data.bin"), b"old")
                outside = tempfile.mkdtemp(prefix="kvo-outside-")
                self.addCleanup(shutil.rmtree, outside, True)
                plant(installation, outside)
                before = {name: read_bytes(os.path.join(outside, name)) for name in os.listdir(outside)}
                server = self.serve(PRIMARY_PORT, self.site(manifest([entry], SERVER_VERSION), {"data.bin": body}))
                launcher = installation.start_launcher()
                self.addCleanup(kvo_e2e.stop_wine_process, launcher)
                self.assertIsNotNone(answer_box(CAPTION, "cancel", BOX_TIMEOUT_MS), "the per-file failure box")
                self.assertEqual(launcher.wait(timeout=60), 0)
                self.assertEqual(installation.log_lines()[-1], "data.bin 更新失败 %d" % STAGING_REFUSED)
                self.assertEqual({name: read_bytes(os.path.join(outside, name)) for name in os.listdir(outside)},
                                 before)
                self.assertEqual(read_bytes(installation.path("data.bin")), b"old")
                server.close()

    def test_a_trickling_server_ends_in_the_failure_box_with_the_old_file_intact(self):
        # 100 bytes every half second: far below the speed floor (this build's window is 3 s).
        installation = self.make_installation(pver=INSTALLED_VERSION)
        old = b"the data file as it was\r\n"
        write_bytes(installation.path("data.bin"), old)
        entry = ("data.bin", "", url("/gen?size=1000000&chunk=100&pause=0.5"))
        server = self.serve(PRIMARY_PORT, self.site(manifest([entry], SERVER_VERSION)))
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.assertIsNotNone(answer_box(CAPTION, "cancel", BOX_TIMEOUT_MS), "the per-file failure box")
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assertEqual(read_bytes(installation.path("data.bin")), old)
        self.assertEqual(len([r for r in server.requests() if r["path"].startswith("/gen")]), 4, "four attempts")
        self.assertEqual(installation.log_lines()[-1], "data.bin 更新失败 %d" % ERROR_INTERNET_TIMEOUT)
        self.assertEqual(installation.pver(), str(INSTALLED_VERSION))

    def test_a_package_or_a_file_larger_than_the_free_space_fails_with_nothing_written(self):
        if os.geteuid() != 0:
            self.skipTest("needs root to mount a small tmpfs volume")
        volume = tempfile.mkdtemp(prefix="kvo-small-volume-")
        self.addCleanup(shutil.rmtree, volume, True)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + SMALL_VOLUME, "tmpfs", volume]).returncode != 0:
            self.skipTest("could not mount a tmpfs volume here")
        self.addCleanup(subprocess.run, ["umount", "-l", volume])
        installation = self.make_installation(pver=INSTALLED_VERSION, parent=volume)
        # 20 MB of zeros deflate to a package of some 20 KB: fine to download, too large to unpack.
        package = package_bytes({"maps/zeros.bin": bytes(20 << 20), "readme.txt": b"read me"})
        root = self.site(manifest([("pack.zip", "", url("/files/pack.zip"))], SERVER_VERSION), {"pack.zip": package})
        self.serve(PRIMARY_PORT, root)
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.assertIsNotNone(answer_box(FINAL_CAPTION, "cancel", BOX_TIMEOUT_MS), "the final failure box")
        self.assertEqual(launcher.wait(timeout=60), 0)

        self.assertFalse(os.path.exists(installation.path("maps")))
        self.assertFalse(os.path.exists(installation.path("readme.txt")))
        self.assertEqual([name for name in os.listdir(installation.dir) if "pack" in name], [])
        self.assertTrue(any(line.startswith("pack.zip 解压失败 磁盘空间不足") for line in installation.log_lines()),
                        installation.log_lines())
        self.assertEqual(installation.pver(), str(INSTALLED_VERSION))

        # A plain file needs room of its own beside the one it replaces: refused before a byte is written.
        write_bytes(os.path.join(root, "AutoUpdate", "update.xml"),
                    manifest([("big.bin", "", url("/gen?size=%d" % (20 << 20)))], SERVER_VERSION))
        launcher = installation.start_launcher()
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.assertIsNotNone(answer_box(CAPTION, "cancel", BOX_TIMEOUT_MS), "the per-file failure box")
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assertEqual(installation.log_lines()[-1], "big.bin 更新失败 112")
        self.assertFalse(os.path.exists(installation.path("big.bin")))
        self.assertEqual([name for folder, _, names in os.walk(installation.path("KvoRelease")) for name in names
                          if os.path.getsize(os.path.join(folder, name)) > 0], [])



if __name__ == "__main__":
    kvo_e2e.main()
