#!/usr/bin/env python3
"""A release published and signed with KvoPublish, served by nginx, installed by the real launcher.

The installation must afterwards equal the release byte for byte (plain files, the module with
its version resource, the unpacked package), carry the published PVer, and a second start must
find nothing to do: the server sees the manifest asked for again and no file. The release's base
address is down (503) and its one mirror serves it. A signed publish made with a key of
KvoPublish's own verifies (with KvoPublish --verify and with openssl) until a served byte changes.
Halted with --refresh --rollout 0, the release stays where it is installed and an installation one
version behind starts its lobby without asking for a file.
"""
import base64
import hashlib
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import kvo_e2e
from kvo_e2e import BUILD_DIR, SOURCE_DIR, LauncherTestCase, NginxSite, read_bytes, windows_path, write_bytes


PUBLISH = os.path.join(BUILD_DIR, "tools", "publish", "KvoPublish.exe")
OLD_MODULE = os.path.join(BUILD_DIR, "tools", "publish", "demo", "old", "LobbyCore.dll")
NEW_MODULE = os.path.join(BUILD_DIR, "tools", "publish", "demo", "new", "LobbyCore.dll")
PUBLISH_TIMEOUT = 120
ERROR_HTTP_INVALID_SERVER_RESPONSE = 12152  # the number a refused status is logged with
OLD_VERSION = 6
NEW_VERSION = 7
MANIFEST_URI = "/AutoUpdate/update.xml"
# Names that need percent-encoding and GBK in the manifest; each is a fault some updater shipped.
NOTES_NAME = "说明 & notes #1.txt"
MAP_NAME = "城市 100%.map"


def tree_of(root, skip=()):
    """{relative path: bytes} of every file below root, and the set of folders."""
    files, folders = {}, set()
    for folder, dirnames, filenames in os.walk(root):
        relative = os.path.relpath(folder, root)
        dirnames[:] = [d for d in dirnames if os.path.normpath(os.path.join(relative, d)) not in skip]
        for name in filenames:
            path = os.path.normpath(os.path.join(relative, name))
            if path not in skip:
                files[path] = read_bytes(os.path.join(folder, name))
        if relative != ".":
            folders.add(os.path.normpath(relative))
    return files, folders


def run_publish(*args):
    command = [os.path.join(SOURCE_DIR, "tools", "wine-run.sh"), PUBLISH] + list(args)
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=PUBLISH_TIMEOUT)


def publish(release, web, base_url, *extra):
    return run_publish("--release", windows_path(release), "--out", windows_path(web), "--base-url", base_url,
                       "--version", str(NEW_VERSION), *extra)


# DER of a P-256 SubjectPublicKeyInfo up to the uncompressed point's X||Y.
P256_PUBLIC_KEY_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d03010703420004")


def der_integer(number):
    data = number.lstrip(b"\0") or b"\0"
    data = b"\0" + data if data[0] & 0x80 else data
    return bytes([2, len(data)]) + data


def openssl_verifies(document, public_key_text, work):
    """Whether openssl takes the signature comment at the end of `document` as made by the key."""
    signed, _, comment = document.rpartition(b"<!-- KvoSignature: ")
    raw = base64.b64decode(comment.split(b" -->")[0])
    body = der_integer(raw[:32]) + der_integer(raw[32:])
    paths = {name: os.path.join(work, name) for name in ("key.der", "signed.bin", "signature.der")}
    for name, data in (("key.der", P256_PUBLIC_KEY_PREFIX + base64.b64decode(public_key_text)), ("signed.bin", signed),
                       ("signature.der", bytes([0x30, len(body)]) + body)):
        write_bytes(paths[name], data)
    return subprocess.run(["openssl", "dgst", "-sha256", "-keyform", "DER", "-verify", paths["key.der"],
                           "-signature", paths["signature.der"], paths["signed.bin"]],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


class PublishRoundTrip(LauncherTestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kvo-publish-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.release = os.path.join(self.work, "release")
        self.web = os.path.join(self.work, "web")
        noise = random.Random(7)
        os.makedirs(self.release)
        shutil.copy(NEW_MODULE, os.path.join(self.release, "LobbyCore.dll"))
        write_bytes(os.path.join(self.release, NOTES_NAME), "新的说明\r\n".encode("gbk"))
        write_bytes(os.path.join(self.release, "Skins", "default.ini"), b"[skin]\r\ncolour=blue\r\n")
        write_bytes(os.path.join(self.release, "Data", "maps", MAP_NAME), bytes(noise.getrandbits(8) for _ in range(300000)))
        write_bytes(os.path.join(self.release, "Data", "readme.txt"), b"data v7\r\n" * 5000)
        write_bytes(os.path.join(self.release, "Data", "empty.txt"), b"")

    def old_installation(self):
        """One version behind: the older module, older data, and a file of the user's own."""
        installation = self.make_installation(pver=OLD_VERSION)
        shutil.copy(OLD_MODULE, installation.path("LobbyCore.dll"))
        write_bytes(installation.path("Skins", "default.ini"), b"[skin]\r\ncolour=red\r\n")
        write_bytes(installation.path("Data", "readme.txt"), b"data v6\r\n")
        write_bytes(installation.path("mine.txt"), b"the user's own file")
        return installation

    def test_signed_release_installs_byte_for_byte_and_verifies_until_a_served_byte_changes(self):
        key = os.path.join(self.work, "release-key")
        self.assertEqual(run_publish("--new-key", windows_path(key)).returncode, 0)
        public_key = read_bytes(key + ".public").decode()
        self.assertNotEqual(run_publish("--new-key", windows_path(key)).returncode, 0, "a key is never overwritten")
        self.assertEqual(read_bytes(key + ".public").decode(), public_key)
        # The base's host is down; the mirror (nginx, which also serves the manifest) has the files.
        base_url = "http://127.0.0.1:%d/files/v%d/" % (kvo_e2e.FALLBACK_PORT, NEW_VERSION)
        mirror_url = "http://127.0.0.1:%d/files/v%d/" % (kvo_e2e.PRIMARY_PORT, NEW_VERSION)
        result = publish(self.release, self.web, base_url, "--package", "Data", "--mirror", mirror_url,
                         "--sign-key", windows_path(key + ".private"))
        self.assertEqual(result.returncode, 0, result.stderr.decode("gbk", "replace"))

        document = read_bytes(os.path.join(self.web, "AutoUpdate", "update.xml"))
        product = ElementTree.fromstring(document.decode("gbk")).find("Product")
        self.assertEqual(product.get("Ver"), str(NEW_VERSION))
        files = {f.findtext("FileName"): (f.findtext("FileVersion"), f.findtext("SHA256"))
                 for f in product.iter("File")}
        self.assertEqual({name: version for name, (version, _) in files.items()},
                         {"Data.zip": "", "LobbyCore.dll": "1.0.0.5", NOTES_NAME: "", "Skins\\default.ini": ""})
        self.assertEqual(files["LobbyCore.dll"][1], hashlib.sha256(read_bytes(NEW_MODULE)).hexdigest())
        self.assertTrue(all(len(digest) == 64 for _, digest in files.values()), files)
        self.assertTrue(openssl_verifies(document, public_key, self.work), "openssl rejects the signature")

        self.assertEqual([m.text for m in product.iter("Mirror")], [base_url, mirror_url])

        # The launcher (without a key of its own) installs the signed release from the mirror.
        installation = self.old_installation()
        site = NginxSite(self.web, kvo_e2e.PRIMARY_PORT)
        self.addCleanup(site.close)
        down = self.serve(kvo_e2e.FALLBACK_PORT, static_status=503)
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1, installation.log_lines())
        self.assertEqual(len(down.requests()), len(files), "each file asked of the base once")
        moved_on = "下载失败 %d  127.0.0.1:%d，换用下一地址" % (ERROR_HTTP_INVALID_SERVER_RESPONSE, kvo_e2e.FALLBACK_PORT)
        self.assertEqual(len([line for line in installation.log_lines() if moved_on in line]), len(files),
                         installation.log_lines())
        # The installation now holds the release, and the user's own files as they were.
        release_files, release_folders = tree_of(self.release)
        skip = {"KvoLauncher.exe", "KVOLobby.exe", "lobby-started.txt", "mine.txt", "DownLoad", "LobbyDate",
                "KvoPackages"}
        installed_files, installed_folders = tree_of(installation.dir, skip)
        self.assertEqual(sorted(installed_files), sorted(release_files))
        for name, data in release_files.items():
            self.assertEqual(installed_files[name], data, name)
        self.assertEqual(installed_folders, release_folders)
        self.assertEqual(read_bytes(installation.path("mine.txt")), b"the user's own file")
        self.assertEqual(installation.pver(), str(NEW_VERSION))
        first_run = site.requests()
        self.assertEqual(first_run[0][:2], (MANIFEST_URI, 200))
        self.assertEqual(sorted(uri for uri, status, _ in first_run[1:] if status == 200), sorted([
            "/files/v7/Data.zip", "/files/v7/LobbyCore.dll", "/files/v7/Skins/default.ini",
            "/files/v7/%E8%AF%B4%E6%98%8E%20%26%20notes%20%231.txt"]))
        # Halted: where it is installed the release stays (only the manifest is asked for), and an
        # installation one version behind does not take it.
        halt = run_publish("--refresh", windows_path(self.web), "--sign-key", windows_path(key + ".private"),
                           "--rollout", "0")
        self.assertEqual(halt.returncode, 0, halt.stderr.decode("gbk", "replace"))
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=2)), 2)
        self.assertEqual(installation.pver(), str(NEW_VERSION))
        behind = self.old_installation()
        self.assertEqual(behind.run_launcher(), 0)
        self.assertEqual(len(behind.lobby_starts(expect=1)), 1)
        self.assertEqual([uri for uri, _, _ in site.requests()[len(first_run):]], [MANIFEST_URI, MANIFEST_URI])
        self.assertEqual(behind.pver(), str(OLD_VERSION))
        self.assertTrue(any(re.fullmatch(r"本机不在本次分批发布范围  分组 \d+  Rollout 0", line)
                            for line in behind.log_lines()), behind.log_lines())
        self.assertRegex(behind.settings_bytes().decode("ascii"), r"\[KvoLauncher\]\r\nInstallId=[0-9A-Fa-f]{16}\r\n")

        verify = lambda: run_publish("--verify", windows_path(self.web), "--public-key", windows_path(key + ".public"))
        self.assertEqual(verify().returncode, 0)
        served = os.path.join(self.web, "files", "v%d" % NEW_VERSION, "Skins", "default.ini")
        write_bytes(served, read_bytes(served) + b" ")
        altered = verify()
        self.assertEqual(altered.returncode, 4)
        self.assertIn(b"Skins\\default.ini", altered.stderr)

def package_index(folder, package):
    """The canonical index of the package of `folder`'s subfolder `package`, as the launcher keeps it."""
    lines = []
    for root, _, names in os.walk(os.path.join(folder, package)):
        for name in names:
            entry = os.path.relpath(os.path.join(root, name), folder).replace(os.sep, "/")
            lines.append((entry.encode("gbk"), hashlib.sha256(read_bytes(os.path.join(root, name))).hexdigest()))
    return b"".join(digest.encode() + b" " + entry + b"\n" for entry, digest in sorted(lines))


def kept_index_path(installation, package_file):
    return installation.path("KvoPackages", hashlib.sha256(package_file.upper().encode()).hexdigest()[:16] + ".idx")


class DeltaUpdate(LauncherTestCase):
    """An installation of the previous release takes the next one in one run: a patch per changed
    file and one range of the package, and nothing else."""

    def release(self, name, big, data, module):
        folder = os.path.join(self.work, name)
        shutil.copy(module, os.path.join(os.makedirs(folder) or folder, "LobbyCore.dll"))
        write_bytes(os.path.join(folder, "big.bin"), big)
        for entry, content in data.items():
            write_bytes(os.path.join(folder, "Data", entry), content)
        return folder

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kvo-delta-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def test_an_update_from_the_previous_release_fetches_the_patches_and_the_changed_entries_only(self):
        noise = random.Random(11)
        text = lambda size: bytes(noise.choice(b"abcdefgh \r\n") for _ in range(size))
        big = text(200000)
        old_data = {"f%03d.txt" % i: text(2000) for i in range(60)}
        new_data = dict(old_data, **{"f005.txt": text(2100), "f031.txt": text(1900), "new.txt": text(500)})
        del new_data["f040.txt"]
        previous = self.release("v6", big, old_data, OLD_MODULE)
        current = self.release("v7", big[:90000] + text(300) + big[90000:], new_data, NEW_MODULE)
        web = os.path.join(self.work, "web")
        base_url = "http://127.0.0.1:%d/files/v7/" % kvo_e2e.PRIMARY_PORT
        result = run_publish("--release", windows_path(current), "--out", windows_path(web), "--base-url", base_url,
                             "--version", str(NEW_VERSION), "--package", "Data", "--previous", windows_path(previous))
        self.assertEqual(result.returncode, 0, result.stderr.decode("gbk", "replace"))

        # The installation holds the previous release as the launcher left it, with its kept index.
        installation = self.make_installation(pver=OLD_VERSION)
        for name in ("LobbyCore.dll", "big.bin"):
            shutil.copy(os.path.join(previous, name), installation.path(name))
        shutil.copytree(os.path.join(previous, "Data"), installation.path("Data"))
        write_bytes(kept_index_path(installation, "Data.zip"), package_index(previous, "Data"))

        site = self.nginx(web)
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1, installation.log_lines())
        self.assertEqual(installation.pver(), str(NEW_VERSION))
        for name in ("LobbyCore.dll", "big.bin"):
            self.assertEqual(read_bytes(installation.path(name)), read_bytes(os.path.join(current, name)), name)
        for entry, content in new_data.items():
            self.assertEqual(read_bytes(installation.path("Data", entry)), content, entry)
        self.assertEqual(read_bytes(kept_index_path(installation, "Data.zip")), package_index(current, "Data"))

        requests = site.requests()
        self.assertEqual(requests[0][:2], (MANIFEST_URI, 200))
        fetched = sorted((uri.rsplit("/", 2)[-2], status) for uri, status, _ in requests[1:])
        self.assertEqual(fetched, [("KvoPatches", 200), ("KvoPatches", 200), ("v7", 206)], requests)
        whole = sum(os.path.getsize(os.path.join(current, name)) for name in ("LobbyCore.dll", "big.bin")) + \
            os.path.getsize(os.path.join(web, "files", "v7", "Data.zip"))
        sent = sum(size for _, _, size in requests[1:])
        self.assertLess(sent, whole / 10, requests)
        log = installation.log_lines()
        self.assertEqual(len([line for line in log if "  补丁已应用  " in line]), 2, log)
        self.assertEqual(len([line for line in log if line.startswith("Data.zip  只下载变化部分  ")]), 1, log)


if __name__ == "__main__":
    unittest.main(verbosity=2)
