#!/usr/bin/env python3
"""A release published with KvoPublish, served by nginx, installed by the real launcher.

The installation must afterwards equal the release byte for byte (plain files, the module with
its version resource, the unpacked package), carry the published PVer, and a second start must
find nothing to do: the server sees the manifest asked for again and no file.
"""
import os
import random
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import kvo_e2e
from kvo_e2e import BUILD_DIR, SOURCE_DIR, LauncherTestCase, NginxSite, windows_path


PUBLISH = os.path.join(BUILD_DIR, "tools", "publish", "KvoPublish.exe")
OLD_MODULE = os.path.join(BUILD_DIR, "tools", "publish", "demo", "old", "LobbyCore.dll")
NEW_MODULE = os.path.join(BUILD_DIR, "tools", "publish", "demo", "new", "LobbyCore.dll")
PUBLISH_TIMEOUT = 120
OLD_VERSION = 6
NEW_VERSION = 7
MANIFEST_URI = "/AutoUpdate/update.xml"
# Names that need percent-encoding and GBK in the manifest; each is a fault some updater shipped.
NOTES_NAME = "说明 & notes #1.txt"
MAP_NAME = "城市 100%.map"


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def read(path):
    with open(path, "rb") as source:
        return source.read()


def tree_of(root, skip=()):
    """{relative path: bytes} of every file below root, and the set of folders."""
    files, folders = {}, set()
    for folder, dirnames, filenames in os.walk(root):
        relative = os.path.relpath(folder, root)
        dirnames[:] = [d for d in dirnames if os.path.normpath(os.path.join(relative, d)) not in skip]
        for name in filenames:
            path = os.path.normpath(os.path.join(relative, name))
            if path not in skip:
                files[path] = read(os.path.join(folder, name))
        if relative != ".":
            folders.add(os.path.normpath(relative))
    return files, folders


def publish(release, web, base_url, *extra):
    command = [os.path.join(SOURCE_DIR, "tools", "wine-run.sh"), PUBLISH, "--release", windows_path(release),
               "--out", windows_path(web), "--base-url", base_url, "--version", str(NEW_VERSION)] + list(extra)
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=PUBLISH_TIMEOUT)


class PublishRoundTrip(LauncherTestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kvo-publish-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.release = os.path.join(self.work, "release")
        self.web = os.path.join(self.work, "web")
        noise = random.Random(7)
        os.makedirs(self.release)
        shutil.copy(NEW_MODULE, os.path.join(self.release, "LobbyCore.dll"))
        write(os.path.join(self.release, NOTES_NAME), "新的说明\r\n".encode("gbk"))
        write(os.path.join(self.release, "Skins", "default.ini"), b"[skin]\r\ncolour=blue\r\n")
        write(os.path.join(self.release, "Data", "maps", MAP_NAME), bytes(noise.getrandbits(8) for _ in range(300000)))
        write(os.path.join(self.release, "Data", "readme.txt"), b"data v7\r\n" * 5000)
        write(os.path.join(self.release, "Data", "empty.txt"), b"")

    def old_installation(self):
        """One version behind: the older module, older data, and a file of the user's own."""
        installation = self.make_installation(pver=OLD_VERSION)
        shutil.copy(OLD_MODULE, installation.path("LobbyCore.dll"))
        write(installation.path("Skins", "default.ini"), b"[skin]\r\ncolour=red\r\n")
        write(installation.path("Data", "readme.txt"), b"data v6\r\n")
        write(installation.path("mine.txt"), b"the user's own file")
        return installation

    def test_published_release_installs_byte_for_byte_and_a_second_start_downloads_nothing(self):
        base_url = "http://127.0.0.1:%d/files/v%d/" % (kvo_e2e.PRIMARY_PORT, NEW_VERSION)
        result = publish(self.release, self.web, base_url, "--package", "Data")
        self.assertEqual(result.returncode, 0, result.stderr.decode("gbk", "replace"))

        manifest = ElementTree.fromstring(read(os.path.join(self.web, "AutoUpdate", "update.xml")).decode("gbk"))
        product = manifest.find("Product")
        self.assertEqual(product.get("Ver"), str(NEW_VERSION))
        versions = {f.findtext("FileName"): f.findtext("FileVersion") for f in product.iter("File")}
        self.assertEqual(versions, {"Data.zip": "", "LobbyCore.dll": "1.0.0.5", NOTES_NAME: "",
                                    "Skins\\default.ini": ""})

        installation = self.old_installation()
        site = NginxSite(self.web, kvo_e2e.PRIMARY_PORT)
        self.addCleanup(site.close)
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1, installation.log_lines())

        # The installation now holds the release, and the user's own files as they were.
        release_files, release_folders = tree_of(self.release)
        skip = {"KvoLauncher.exe", "KVOLobby.exe", "lobby-started.txt", "mine.txt", "DownLoad", "LobbyDate"}
        installed_files, installed_folders = tree_of(installation.dir, skip)
        self.assertEqual(sorted(installed_files), sorted(release_files))
        for name, data in release_files.items():
            self.assertEqual(installed_files[name], data, name)
        self.assertEqual(installed_folders, release_folders)
        self.assertEqual(read(installation.path("mine.txt")), b"the user's own file")
        self.assertEqual(installation.pver(), str(NEW_VERSION))
        self.assertEqual(installation.log_lines()[-1], "版本%d  更新完成" % NEW_VERSION)

        first_run = site.requests()
        self.assertEqual(first_run[0][:2], (MANIFEST_URI, 200))
        downloaded = sorted(uri for uri, status, _ in first_run[1:] if status == 200)
        self.assertEqual(downloaded, sorted([
            "/files/v7/Data.zip", "/files/v7/LobbyCore.dll", "/files/v7/Skins/default.ini",
            "/files/v7/%E8%AF%B4%E6%98%8E%20%26%20notes%20%231.txt"]))

        # Second start: the same version is installed, so only the manifest is asked for.
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=2)), 2)
        self.assertEqual([uri for uri, _, _ in site.requests()[len(first_run):]], [MANIFEST_URI])
        self.assertEqual(installation.pver(), str(NEW_VERSION))

    def test_refused_release_publishes_nothing(self):
        write(os.path.join(self.release, "Extras.zip"), b"a zip the lobby reads itself")
        result = publish(self.release, self.web, "http://127.0.0.1/files/")
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"Extras.zip", result.stderr)
        self.assertFalse(os.path.exists(self.web))

    def test_package_folder_with_a_dot_is_refused(self):
        write(os.path.join(self.release, "Skin.v2", "a.png"), b"png")
        result = publish(self.release, self.web, "http://127.0.0.1/files/", "--package", "Skin.v2")
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"Skin.v2", result.stderr)
        self.assertFalse(os.path.exists(self.web))


if __name__ == "__main__":
    unittest.main(verbosity=2)
