#!/usr/bin/env python3
"""Authentic updates with the real launcher: a launcher built with the test key takes only
manifests signed by it (signed here by openssl, not by our code), falls back when a host's
manifest is not, checks every file's SHA-256 and module version before it replaces anything,
skips data files whose bytes are already listed, leaves nothing in the internet cache and loads
no library planted in the current directory, on PATH or, for a system library, in its own folder."""
import hashlib
import os
import tempfile

import kvo_e2e
from kvo_e2e import (CAPTION, FALLBACK_PORT, FIXTURE_DIR, PRIMARY_PORT, LauncherTestCase, answer_box, manifest,
                     read_bytes, sign_manifest, windows_path, write_bytes)

INSTALLED_VERSION = 4
SERVER_VERSION = 5
OLD_MODULE = read_bytes(os.path.join(FIXTURE_DIR, "Version1234.dll"))    # reports 1.2.3.4
NEW_MODULE = read_bytes(os.path.join(FIXTURE_DIR, "VersionHigh.dll"))    # reports 10.20.65535.40000
NEW_VERSION = "10.20.65535.40000"
NOTES = b"the same notes in both versions\r\n"
OLD_DATA, NEW_DATA = b"data of version 4\r\n", b"data of version 5\r\n"
PLANTED_ENGINE = os.path.join(kvo_e2e.BUILD_DIR, "tests", "unit", "skin", "engine", "D2DEngine.dll")
PLANTED_WININET = os.path.join(kvo_e2e.BUILD_DIR, "tests", "e2e", "planted", "wininet.dll")
# Wine prefers its own builtin libraries; Windows takes a wininet.dll found first in the program's
# folder. Preferring the native copy makes Wine search as Windows does.
NATIVE_WININET_FIRST = "mscoree,mshtml=;wininet=n,b"
HASH_MISMATCH, VERSION_MISMATCH = 0x20000001, 0x20000002
BOX_TIMEOUT_MS = 90000


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def manifest_url(port):
    return "http://127.0.0.1:%d/AutoUpdate/update.xml" % port


def file_url(port, name):
    return "http://127.0.0.1:%d/files/%s" % (port, name)


def release_entries(port, module_hash=sha256(NEW_MODULE)):
    return [("Module.dll", NEW_VERSION, file_url(port, "Module.dll"), module_hash),
            ("notes.txt", "", file_url(port, "notes.txt"), sha256(NOTES).upper()),
            ("data.txt", "", file_url(port, "data.txt"), sha256(NEW_DATA))]


RELEASE_FILES = {"Module.dll": NEW_MODULE, "notes.txt": NOTES, "data.txt": NEW_DATA}


class Authenticity(LauncherTestCase):
    def installation(self, launcher=kvo_e2e.SIGNED_LAUNCHER):
        installation = self.make_installation(pver=INSTALLED_VERSION, launcher=launcher)
        for name, data in (("Module.dll", OLD_MODULE), ("notes.txt", NOTES), ("data.txt", OLD_DATA)):
            write_bytes(installation.path(name), data)
        return installation

    def host(self, port, manifest_bytes, files=None):
        return self.serve(port, self.site(manifest_bytes, files))

    def file_requests(self, server):
        return [request["path"] for request in server.requests() if request["path"].startswith("/files/")]

    def assert_updated(self, installation):
        self.assertEqual(read_bytes(installation.path("Module.dll")), NEW_MODULE)
        self.assertEqual(read_bytes(installation.path("data.txt")), NEW_DATA)
        self.assertEqual(installation.pver(), str(SERVER_VERSION))
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1)

    def assert_not_updated(self, installation):
        self.assertEqual(read_bytes(installation.path("Module.dll")), OLD_MODULE)
        self.assertEqual(installation.pver(), str(INSTALLED_VERSION))

    def planted_libraries_environment(self, installation):
        """The drawing engine planted in the current directory and on PATH, and wininet.dll in the
        program's folder; the loads of each are traced."""
        planted = tempfile.mkdtemp(prefix="kvo-planted-", dir=installation.root_dir)
        for folder in ("cwd", "path"):
            write_bytes(os.path.join(planted, folder, "D2DEngine.dll"), read_bytes(PLANTED_ENGINE))
        write_bytes(installation.path("wininet.dll"), read_bytes(PLANTED_WININET))
        traces = os.path.join(planted, "engine-loaded.txt"), os.path.join(planted, "wininet-loaded.txt")
        env = dict(os.environ, WINEPATH=windows_path(os.path.join(planted, "path")),
                   KVO_ENGINE_TRACE=windows_path(traces[0]), KVO_PLANTED_TRACE=windows_path(traces[1]),
                   WINEDLLOVERRIDES=NATIVE_WININET_FIRST)
        return os.path.join(planted, "cwd"), env, traces

    def test_changed_primary_is_refused_and_the_signed_fallback_installed_without_unchanged_files(self):
        installation = self.installation()
        signed = sign_manifest(manifest(release_entries(PRIMARY_PORT), SERVER_VERSION))
        changed = signed.replace(b"/files/data.txt", b"/files/data.txT", 1)  # one byte of a URL
        primary = self.host(PRIMARY_PORT, changed, RELEASE_FILES)
        fallback = self.host(FALLBACK_PORT, sign_manifest(manifest(release_entries(FALLBACK_PORT), SERVER_VERSION)),
                             RELEASE_FILES)
        cwd, env, (engine_trace, wininet_trace) = self.planted_libraries_environment(installation)
        status = installation.run_launcher(cwd=cwd, env=env)
        self.assertFalse(os.path.exists(wininet_trace), "the wininet.dll in the program's folder was loaded")
        self.assertEqual(status, 0)

        self.assert_updated(installation)
        lines = installation.log_lines()
        self.assertIn("清单签名无效  " + manifest_url(PRIMARY_PORT), lines)
        self.assertIn("清单签名已验证  " + manifest_url(FALLBACK_PORT), lines)
        self.assertIn("notes.txt 当前已是最新", lines)
        self.assertEqual(self.file_requests(primary), [])
        self.assertEqual(sorted(self.file_requests(fallback)), ["/files/Module.dll", "/files/data.txt"])
        self.assertFalse(os.path.exists(engine_trace), "a D2DEngine.dll outside the program directory was loaded")
        cached = [path for path in kvo_e2e.internet_cache_files() if b"KvoSignature" in read_bytes(path)]
        self.assertEqual(cached, [], "the manifest was copied into the system's internet cache")

    def test_without_a_verified_manifest_the_lobby_starts_without_update(self):
        installation = self.installation()
        unsigned = manifest(release_entries(PRIMARY_PORT), SERVER_VERSION)
        without_hash = [entry[:3] if entry[0] == "Module.dll" else entry for entry in release_entries(FALLBACK_PORT)]
        primary = self.host(PRIMARY_PORT, unsigned, RELEASE_FILES)
        fallback = self.host(FALLBACK_PORT, sign_manifest(manifest(without_hash, SERVER_VERSION)), RELEASE_FILES)
        self.assertEqual(installation.run_launcher(), 0)

        self.assert_not_updated(installation)
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1)
        lines = installation.log_lines()
        self.assertIn("清单没有签名  " + manifest_url(PRIMARY_PORT), lines)
        self.assertIn("清单文件缺少SHA256  Module.dll", lines)
        self.assertEqual(self.file_requests(primary) + self.file_requests(fallback), [])

    def test_an_expired_signed_manifest_is_refused_and_the_fresh_fallback_installed(self):
        installation = self.installation()
        expired = "2000-01-01T00:00:00Z"
        primary = self.host(PRIMARY_PORT, sign_manifest(manifest(release_entries(PRIMARY_PORT), SERVER_VERSION,
                                                                 expires=expired)), RELEASE_FILES)
        self.host(FALLBACK_PORT, sign_manifest(manifest(release_entries(FALLBACK_PORT), SERVER_VERSION)), RELEASE_FILES)
        self.assertEqual(installation.run_launcher(), 0)

        self.assert_updated(installation)
        refusal = [line for line in installation.log_lines() if line.startswith("清单已过期  ")]
        self.assertEqual(len(refusal), 1, installation.log_lines())
        self.assertTrue(refusal[0].startswith("清单已过期  %s  有效期至 %s  本机时钟 20" % (manifest_url(PRIMARY_PORT),
                                                                                    expired)), refusal[0])
        self.assertEqual(self.file_requests(primary), [])

    def test_a_halted_release_is_not_taken_again_from_its_earlier_manifest(self):
        def issued(document, time):
            return sign_manifest(document.replace(b' Expires="', b' Issued="%s" Expires="' % time, 1))
        release = manifest(release_entries(PRIMARY_PORT), SERVER_VERSION)
        earlier = issued(release, b"2026-12-01T00:00:00Z")
        halt = issued(release.replace(b'Ver="%d"' % SERVER_VERSION, b'Ver="%d" Rollout="0"' % SERVER_VERSION),
                      b"2026-12-02T00:00:00Z")
        installation = self.installation()
        primary = self.host(PRIMARY_PORT, halt, RELEASE_FILES)
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=1)), 1)
        primary.close()
        # A stale host, or anyone on the path, answers with the manifest from before the halt.
        for port in (PRIMARY_PORT, FALLBACK_PORT):
            self.host(port, earlier, RELEASE_FILES)
        self.assertEqual(installation.run_launcher(), 0)
        self.assertEqual(len(installation.lobby_starts(expect=2)), 2)

        self.assert_not_updated(installation)
        older = "清单早于已接受的清单  %s  签发 2026-12-01T00:00:00Z  已接受 2026-12-02T00:00:00Z"
        lines = installation.log_lines()
        self.assertIn(older % manifest_url(PRIMARY_PORT), lines)
        self.assertIn(older % manifest_url(FALLBACK_PORT), lines)

    def run_failing_update(self, installation, **kwargs):
        launcher = installation.start_launcher(**kwargs)
        self.addCleanup(kvo_e2e.stop_wine_process, launcher)
        self.assertIsNotNone(answer_box(CAPTION, "cancel", BOX_TIMEOUT_MS), "the per-file failure box")
        self.assertEqual(launcher.wait(timeout=60), 0)
        self.assert_not_updated(installation)
        self.assertEqual([name for name in os.listdir(installation.dir) if name.endswith(".kvotmp")], [])
        self.assertEqual(installation.lobby_starts(), [])

    def test_body_that_does_not_match_its_sha256_fails_and_keeps_the_old_file(self):
        installation = self.installation()
        files = dict(RELEASE_FILES, **{"Module.dll": NEW_MODULE[:-1] + bytes([NEW_MODULE[-1] ^ 1])})  # size, version kept
        self.host(PRIMARY_PORT, sign_manifest(manifest(release_entries(PRIMARY_PORT), SERVER_VERSION)), files)
        # The program directory's own drawing engine is the one that loads (the window was shown).
        write_bytes(installation.path("D2DEngine.dll"), read_bytes(PLANTED_ENGINE))
        trace = installation.path("engine-loaded.txt")
        self.run_failing_update(installation, env=dict(os.environ, KVO_ENGINE_TRACE=windows_path(trace)))
        self.assertEqual(installation.log_lines()[-1], "Module.dll 更新失败 %d" % HASH_MISMATCH)
        self.assertTrue(os.path.exists(trace), "the drawing engine in the program directory was not loaded")

    def test_content_length_shorter_than_the_module_fails_even_without_a_key_or_hash(self):
        installation = self.installation(launcher=kvo_e2e.LAUNCHER)
        cut = "/files/Module.dll?length=%d" % (len(NEW_MODULE) // 2)
        self.host(PRIMARY_PORT, manifest([("Module.dll", NEW_VERSION, "http://127.0.0.1:%d%s" % (PRIMARY_PORT, cut))],
                                         SERVER_VERSION), RELEASE_FILES)
        self.run_failing_update(installation)
        self.assertEqual(installation.log_lines()[-1], "Module.dll 更新失败 %d" % VERSION_MISMATCH)


if __name__ == "__main__":
    kvo_e2e.main()
