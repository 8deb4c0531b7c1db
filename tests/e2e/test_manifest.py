#!/usr/bin/env python3
"""The manifest at start-up with the real launcher: the update decision, the installed version
read as 0 when absent, the fallback host, and hosts that fail in the ways servers do."""
import contextlib
import os
import re
import shutil
import socket
import tempfile

import kvo_e2e
from kvo_e2e import FALLBACK_PORT, PRIMARY_PORT, LauncherTestCase

MANIFEST_PATH = "/AutoUpdate/update.xml"
ERROR_LINE = re.compile(r"^(\d+)  (.+)$")
CANNOT_CONNECT = 12029
TIMED_OUT = 12002
# GBK file name, served in a manifest that declares gb2312 like the operator's tool writes it.
CHINESE_NAME = "大厅\\皮肤.dat"


def manifest(version, files=(), declaration='<?xml version="1.0" encoding="gb2312"?>'):
    """Manifest bytes (GBK): `files` are (FileName, URL) pairs; version None leaves Ver out."""
    ver = "" if version is None else ' Ver="%s"' % version
    entries = "".join(
        "<File><FileName>%s</FileName><FileVersion></FileVersion><URL>%s</URL></File>\r\n" % entry
        for entry in files)
    text = '%s\r\n<Update>\r\n<Product productname="KvoLobby" filenum="%d"%s>\r\n%s</Product>\r\n</Update>\r\n' % (
        declaration, len(files), ver, entries)
    return text.encode("gbk")


def file_url(port, name):
    return "http://127.0.0.1:%d/files/%s" % (port, name)


class ManifestAtStartup(LauncherTestCase):
    def publish(self, port, manifest_bytes, files=None):
        """Serves `manifest_bytes` as the manifest (and `files`, {name: bytes}) on `port`."""
        root = tempfile.mkdtemp(prefix="kvo-site-")
        self.addCleanup(shutil.rmtree, root, True)
        os.makedirs(os.path.join(root, "AutoUpdate"))
        with open(os.path.join(root, "AutoUpdate", "update.xml"), "wb") as out:
            out.write(manifest_bytes)
        os.makedirs(os.path.join(root, "files"))
        for name, data in (files or {}).items():
            with open(os.path.join(root, "files", name), "wb") as out:
                out.write(data)
        return self.serve(port, root)

    def silent_host(self, port):
        """A host that takes the connection and never answers."""
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", port))
        listener.listen(8)
        self.addCleanup(listener.close)

    @staticmethod
    def paths(server):
        return [request["path"] for request in server.requests()]

    @staticmethod
    def error_numbers(installation):
        return [int(m.group(1)) for m in map(ERROR_LINE.match, installation.log_lines()) if m]

    def settings_state(self, installation):
        path = installation.path("LobbyDate", "Update.INI")
        with contextlib.suppress(FileNotFoundError):
            return installation.settings_bytes(), os.stat(path).st_mtime_ns
        return None

    def assert_lobby_started_without_update(self, installation, settings_before):
        self.assertEqual(installation.run_launcher(), 0)
        starts = installation.lobby_starts(expect=1)
        self.assertEqual([cmdline for cmdline, _ in starts], [installation.expected_lobby_command_line()])
        self.assertEqual(self.settings_state(installation), settings_before, "the settings file is not written")

    def test_version_equal_to_pver_starts_the_lobby_and_fetches_no_file(self):
        installation = self.make_installation(pver=5)
        before = self.settings_state(installation)
        primary = self.publish(PRIMARY_PORT, manifest(5, [(CHINESE_NAME, file_url(PRIMARY_PORT, "skin.dat"))]),
                               {"skin.dat": b"new skin"})
        self.assert_lobby_started_without_update(installation, before)
        self.assertEqual(self.paths(primary), [MANIFEST_PATH])
        self.assertEqual(self.error_numbers(installation), [])
        self.assertFalse(os.path.exists(installation.path("大厅")), "nothing was written")

    def test_missing_pver_reads_as_zero(self):
        for settings in (None, "[VerInfo]\r\n", "[VerInfo]\r\nPVer=abc\r\n"):
            with self.subTest(settings=settings):
                installation = self.make_installation()
                if settings is not None:
                    installation.write_settings(settings)
                before = self.settings_state(installation)
                # Version 0 is not above an absent PVer: nothing to do.
                primary = self.publish(PRIMARY_PORT, manifest(0, [("notes.txt", file_url(PRIMARY_PORT, "notes.txt"))]))
                self.assert_lobby_started_without_update(installation, before)
                self.assertEqual(self.paths(primary), [MANIFEST_PATH])
                primary.close()

    def test_version_one_updates_an_installation_without_pver(self):
        installation = self.make_installation()
        primary = self.publish(PRIMARY_PORT, manifest(1, [("notes.txt", file_url(PRIMARY_PORT, "notes.txt"))]),
                               {"notes.txt": b"release notes\r\n"})
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(self.paths(primary), [MANIFEST_PATH, "/files/notes.txt"])
        with open(installation.path("notes.txt"), "rb") as source:
            self.assertEqual(source.read(), b"release notes\r\n")
        self.assertEqual(installation.pver(), "1")
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1)

    def test_greater_version_without_files_keeps_pver(self):
        without_files = {
            "no File": manifest(9),
            "only an empty FileName": manifest(9, [("", file_url(PRIMARY_PORT, "x"))]),
            "Ver missing and no files": manifest(None),
        }
        for name, body in without_files.items():
            with self.subTest(name):
                installation = self.make_installation(pver=3)
                before = self.settings_state(installation)
                primary = self.publish(PRIMARY_PORT, body)
                self.assert_lobby_started_without_update(installation, before)
                self.assertEqual(installation.pver(), "3")
                self.assertEqual(self.paths(primary), [MANIFEST_PATH])
                primary.close()

    def test_fallback_manifest_used_when_the_primary_fails(self):
        entity = "http://127.0.0.1:%d/files/entity" % PRIMARY_PORT
        rejected = ('<?xml version="1.0"?><!DOCTYPE Update [<!ENTITY x SYSTEM "%s">]>'
                    '<Update><Product Ver="9"><File><FileName>&x;</FileName></File></Product></Update>' % entity)
        primaries = {
            "primary down": ("down", [CANNOT_CONNECT]),
            "primary answers 404": ("not found", []),
            "primary serves an external entity": ("entity", []),
            "primary never answers": ("silent", [TIMED_OUT]),
        }
        for name, (kind, logged) in primaries.items():
            with self.subTest(name):
                installation = self.make_installation(pver=4)
                before = self.settings_state(installation)
                primary = None
                if kind == "silent":
                    self.silent_host(PRIMARY_PORT)
                elif kind == "not found":
                    primary = self.serve(PRIMARY_PORT)  # no static root: every path is a 404 page
                elif kind == "entity":
                    primary = self.publish(PRIMARY_PORT, rejected.encode(), {"entity": b"evil"})
                # The fallback's version equals PVer: the lobby starts only if its manifest was read.
                fallback = self.publish(FALLBACK_PORT, manifest(4, [("a.txt", file_url(FALLBACK_PORT, "a.txt"))]))
                self.assert_lobby_started_without_update(installation, before)
                self.assertEqual(self.paths(fallback), [MANIFEST_PATH])
                if primary is not None:
                    self.assertEqual(self.paths(primary), [MANIFEST_PATH], "the entity was not fetched")
                    primary.close()
                self.assertEqual(self.error_numbers(installation), logged)
                fallback.close()
                self.doCleanups()

    def test_both_hosts_down_starts_the_lobby_and_logs_each_failure(self):
        installation = self.make_installation(pver=2)
        before = self.settings_state(installation)
        self.assert_lobby_started_without_update(installation, before)
        self.assertEqual(self.error_numbers(installation), [CANNOT_CONNECT, CANNOT_CONNECT])
        for line in installation.log_lines():
            match = ERROR_LINE.match(line)
            self.assertTrue(match and 0 < len(match.group(2).encode("gbk")) <= 199, line)


if __name__ == "__main__":
    kvo_e2e.main()
