#!/usr/bin/env python3
"""Trust that changes, with the real launcher and the real publishing tool.

A launcher built with three root keys (two must sign) updates through the first key list and a
manifest signed by its release key; the operator loses a root, rotates to a new root set and a new
release key (the old one revoked), and the launcher updates through that list too; a manifest
signed by the revoked key is then refused, and so is a manifest older than one already taken.
"""
import os
import shutil
import tempfile
import time

import kvo_e2e
from kvo_e2e import SOURCE_DIR, LauncherTestCase, NginxSite, read_bytes, windows_path, write_bytes
from test_publish_roundtrip import run_publish

KEYS = os.path.join(SOURCE_DIR, "tests", "keys")
KEY_LIST_URI, MANIFEST_URI = "/AutoUpdate/keys.xml", "/AutoUpdate/update.xml"
REFUSED = 2  # the tool's exit status for a refused command


def key(name, kind):
    return windows_path(os.path.join(KEYS, "%s.%s" % (name, kind)))


def roots(option, *names):
    arguments = []
    for name in names:
        arguments += [option, key(name, "private" if option == "--root-key" else "public")]
    return arguments


class KeyRotation(LauncherTestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kvo-keys-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.web = os.path.join(self.work, "web")

    def tool(self, *args, status=0):
        result = run_publish(*args)
        self.assertEqual(result.returncode, status, result.stderr.decode("gbk", "replace"))
        return result

    def publish(self, version, signer, web=None):
        release = os.path.join(self.work, "release%d" % version)
        write_bytes(os.path.join(release, "data.txt"), b"data of version %d\r\n" % version)
        base = "http://127.0.0.1:%d/files/v%d/" % (kvo_e2e.PRIMARY_PORT, version)
        self.tool("--release", windows_path(release), "--out", windows_path(web or self.web), "--base-url", base,
                  "--version", str(version), "--sign-key", key(signer, "private"))

    def run_once(self, installation, starts):
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=starts)), starts, installation.log_lines())

    def test_a_rotation_of_roots_and_release_key_is_followed_and_the_revoked_key_refused(self):
        installation = self.make_installation(pver=4, launcher=kvo_e2e.ROOTS_LAUNCHER)
        web = windows_path(self.web)
        # The first key list names the roots the launcher is built with; two of them sign it.
        self.tool("--key-list", web, *roots("--root-key", "root-a"), "--release-public", key("release-1", "public"),
                  *roots("--new-root-public", "root-a", "root-b", "root-c"), "--new-threshold", "2",
                  status=REFUSED)
        self.tool("--key-list", web, *roots("--root-key", "root-a", "root-b"),
                  "--release-public", key("release-1", "public"),
                  *roots("--new-root-public", "root-a", "root-b", "root-c"), "--new-threshold", "2")
        self.publish(5, "release-1")
        site = NginxSite(self.web, kvo_e2e.PRIMARY_PORT)
        self.addCleanup(site.close)
        self.run_once(installation, 1)
        self.assertEqual(installation.pver(), "5", installation.log_lines())
        self.assertIn("密钥列表已更新  版本1  http://127.0.0.1:%d%s" % (kvo_e2e.PRIMARY_PORT, KEY_LIST_URI),
                      installation.log_lines())

        # root-c is lost: root-a and root-b rotate to a, b, d; release-2 replaces release-1. A new
        # root set needs the threshold of both sets: a and d alone reach only the new one.
        rotate = ("--release-public", key("release-2", "public"),
                  *roots("--new-root-public", "root-a", "root-b", "root-d"), "--new-threshold", "2")
        self.tool("--key-list", web, *roots("--root-key", "root-a", "root-d"), *rotate, status=REFUSED)
        self.tool("--key-list", web, *roots("--root-key", "root-a", "root-b", "root-d"), *rotate)
        self.tool("--verify", web, *roots("--public-key", "root-a", "root-b", "root-c"), "--threshold", "2",
                  status=4)  # the manifest is signed by a key the newest list no longer names
        self.publish(6, "release-2")
        self.tool("--verify", web, *roots("--public-key", "root-a", "root-b", "root-c"), "--threshold", "2")
        requests_before = len(site.requests())
        self.run_once(installation, 2)
        self.assertEqual(installation.pver(), "6", installation.log_lines())
        self.assertEqual(read_bytes(installation.path("data.txt")), b"data of version 6\r\n")
        self.assertIn("根密钥已轮换  版本2  门限 2  http://127.0.0.1:%d%s" % (kvo_e2e.PRIMARY_PORT, KEY_LIST_URI),
                      installation.log_lines())
        self.assertEqual([uri for uri, _, _ in site.requests()[requests_before:]][:2], [MANIFEST_URI, KEY_LIST_URI])
        release_manifest = read_bytes(os.path.join(self.web, "AutoUpdate", "update.xml"))

        # A release signed with the revoked key is refused, after the launcher looked for a newer list.
        revoked_web = os.path.join(self.work, "revoked")
        self.publish(7, "release-1", web=revoked_web)
        shutil.copytree(os.path.join(revoked_web, "files", "v7"), os.path.join(self.web, "files", "v7"))
        shutil.copy(os.path.join(revoked_web, "AutoUpdate", "update.xml"), os.path.join(self.web, "AutoUpdate"))
        requests_before = len(site.requests())
        self.run_once(installation, 3)
        self.assertEqual(installation.pver(), "6")
        self.assertIn("清单签名无效  http://127.0.0.1:%d%s" % (kvo_e2e.PRIMARY_PORT, MANIFEST_URI),
                      installation.log_lines())
        self.assertEqual([uri for uri, _, _ in site.requests()[requests_before:]], [MANIFEST_URI, KEY_LIST_URI])

        # Halted, the release's earlier manifest, still signed by a trusted key, is older than the halt.
        manifest_path = os.path.join(self.web, "AutoUpdate", "update.xml")
        write_bytes(manifest_path, release_manifest)
        time.sleep(1.1)  # Issued counts whole seconds: the halt must come after the release's
        self.tool("--refresh", web, "--sign-key", key("release-2", "private"), "--rollout", "0")
        self.run_once(installation, 4)
        write_bytes(manifest_path, release_manifest)
        self.run_once(installation, 5)
        self.assertTrue(any(line.startswith("清单早于已接受的清单  http://127.0.0.1:%d" % kvo_e2e.PRIMARY_PORT)
                            for line in installation.log_lines()), installation.log_lines())


if __name__ == "__main__":
    kvo_e2e.main()
