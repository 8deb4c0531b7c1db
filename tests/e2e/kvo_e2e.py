"""End-to-end harness: a throw-away installation with the real launcher under Wine.

The launcher under test is the build's KvoLauncherTest.exe (the real program, built with the
loopback test hosts), copied into a fresh directory as KvoLauncher.exe next to the stub lobby.
Servers for the scenarios listen on KVO_TEST_PRIMARY_PORT / KVO_TEST_FALLBACK_PORT.
"""
import contextlib
import glob
import hashlib
import io
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile
from xml.sax.saxutils import escape

SOURCE_DIR = os.environ.get("KVO_SOURCE_DIR", os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
from nginx_site import NginxSite  # noqa: E402  (re-exported for the scenarios)
from test_signing import sign_manifest  # noqa: E402  (re-exported for the scenarios)
BUILD_DIR = os.environ.get("KVO_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "mingw"))
WINE_RUN = os.path.join(SOURCE_DIR, "tools", "wine-run.sh")
TEST_SERVER = os.path.join(SOURCE_DIR, "tools", "test_http_server.py")
LAUNCHER = os.path.join(BUILD_DIR, "tests", "e2e", "KvoLauncherTest.exe")
# The same program built with the update key of tests/keys: it takes only manifests signed by it.
SIGNED_LAUNCHER = os.path.join(BUILD_DIR, "tests", "e2e", "KvoLauncherSignedTest.exe")
# Built with the roots root-a, root-b and root-c of tests/keys, two of which must sign a key list.
ROOTS_LAUNCHER = os.path.join(BUILD_DIR, "tests", "e2e", "KvoLauncherRootsTest.exe")
FIXTURE_DIR = os.path.join(BUILD_DIR, "tests", "unit", "manifest")
STUB_LOBBY = os.path.join(BUILD_DIR, "tools", "helpers", "KVOLobby.exe")
ANSWER_BOX = os.path.join(BUILD_DIR, "tools", "helpers", "AnswerBox.exe")
PRIMARY_PORT = int(os.environ.get("KVO_TEST_PRIMARY_PORT", "18481"))
FALLBACK_PORT = int(os.environ.get("KVO_TEST_FALLBACK_PORT", "18482"))

CAPTION = "Kvo更新程序"
LOBBY_RUNNING_TEXT = "检测到大厅正在运行，请先关闭大厅!"
LAUNCH_TIMEOUT = 90


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


def write_bytes(path, data):
    """Writes a file, making the directories it needs."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


# Far ahead: signed test manifests are fresh unless a scenario gives another expiry.
FRESH_EXPIRES = "2099-12-31T23:59:59Z"


def manifest(entries, version, expires=FRESH_EXPIRES):
    """Manifest bytes: `entries` are (FileName, FileVersion, URL[, SHA256]), listed in this order;
    `expires` is the Product's Expires (None: left out)."""
    def element(entry):
        text = "<FileName>%s</FileName><FileVersion>%s</FileVersion><URL>%s</URL>" % tuple(map(escape, entry[:3]))
        return text + ("<SHA256>%s</SHA256>" % entry[3] if len(entry) > 3 else "")
    files = "".join("<File>%s</File>\r\n" % element(entry) for entry in entries)
    expiry = ' Expires="%s"' % expires if expires else ""
    return ('<?xml version="1.0" encoding="gb2312"?>\r\n<Update>\r\n<Product productname="KvoLobby" filenum="%d" '
            'Ver="%d"%s>\r\n%s</Product>\r\n</Update>\r\n' % (len(entries), version, expiry, files)).encode("gbk")


# The start of a version resource's fixed record: its key, the key's terminator and the padding to
# 4 bytes, then the record's signature (the program's code may hold the signature on its own).
VERSION_RECORD_START = "VS_VERSION_INFO".encode("utf-16-le") + bytes(4) + struct.pack("<I", 0xFEEF04BD)


def fixed_version_offset(program):
    """Where the fixed version record of `program` (bytes) starts; -1 when it has none."""
    at = program.find(VERSION_RECORD_START)
    return at + len(VERSION_RECORD_START) - 4 if at >= 0 else -1


def package_bytes(files):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in files.items():
            archive.writestr(name, data)
    return buffer.getvalue()


def internet_cache_files():
    """Files in the Wine prefix's internet cache (where WinINet keeps copies of bodies)."""
    prefix = os.environ.get("KVO_WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
    cache = os.path.join(prefix, "drive_c/users/*/AppData/Local/Microsoft/Windows/INetCache/**")
    return [path for path in glob.glob(cache, recursive=True) if os.path.isfile(path) and not path.endswith(".dat")]


def windows_path(unix_path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def wine(args, **kwargs):
    return subprocess.Popen([WINE_RUN] + list(args), stdout=kwargs.pop("stdout", subprocess.DEVNULL),
                            stderr=kwargs.pop("stderr", subprocess.DEVNULL), **kwargs)


class Installation:
    """A lobby installation in a temporary directory, removed by close()."""

    def __init__(self, name="install", pver=None, launcher=LAUNCHER, parent=None):
        self.root_dir = tempfile.mkdtemp(prefix="kvo-e2e-", dir=parent)
        self.dir = os.path.join(self.root_dir, name)
        os.makedirs(os.path.join(self.dir, "LobbyDate"))
        os.makedirs(os.path.join(self.dir, "DownLoad"))
        shutil.copy(launcher, os.path.join(self.dir, "KvoLauncher.exe"))
        shutil.copy(STUB_LOBBY, os.path.join(self.dir, "KVOLobby.exe"))
        if pver is not None:
            write_bytes(self.path("LobbyDate", "Update.INI"), b"[VerInfo]\r\nPVer=%d\r\n" % pver)

    def close(self):
        shutil.rmtree(self.root_dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def staged_path(self, relative):
        """Where the file of `relative` (with "\\" separators) is staged until its release is committed."""
        name = hashlib.sha256(relative.upper().encode("gbk")).hexdigest()[:16]
        return self.path("KvoRelease", "staged", name[:2], name[2:] + ".kvotmp")

    def settings_bytes(self):
        path = self.path("LobbyDate", "Update.INI")
        return read_bytes(path) if os.path.exists(path) else None

    def pver(self):
        found = re.search(rb"^PVer=(.*?)\r?$", self.settings_bytes() or b"", re.M)
        return found.group(1).decode() if found else None

    def log_lines(self):
        """Text of every log line (time stamp removed), in order, decoded from GBK."""
        logs = sorted(glob.glob(self.path("DownLoad", "*")))
        return [raw.partition(b"\t")[2].decode("gbk", "replace")
                for log in logs for raw in read_bytes(log).split(b"\r\n")[:-1]]

    def lobby_starts(self, expect=0, timeout=30, grace=2.0):
        """The command line of every start of the stub lobby. Nothing waits for the lobby, so its
        record may come after the launcher ended: wait up to `timeout` for `expect` starts, or
        `grace` seconds when none are expected."""
        deadline = time.time() + (timeout if expect else grace)
        record = self.path("lobby-started.txt")
        while True:
            lines = read_bytes(record).decode("gbk", "replace").splitlines() if os.path.exists(record) else []
            starts = [line[len("cmdline="):] for line in lines if line.startswith("cmdline=")]
            if (expect and len(starts) >= expect) or time.time() >= deadline:
                return starts
            time.sleep(0.1)

    def expected_lobby_command_line(self):
        return windows_path(self.path("KVOLobby.exe"))

    # --- processes -------------------------------------------------------------------------
    def start_launcher(self, cwd=None, env=None):
        return wine([self.path("KvoLauncher.exe")], cwd=cwd or self.dir, env=env)

    def run_launcher(self, timeout=LAUNCH_TIMEOUT, **kwargs):
        process = self.start_launcher(**kwargs)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            raise AssertionError("the launcher did not end within %d s" % timeout)

    def start_lobby_window(self):
        """Starts the stub lobby with its KVOGAME window and waits until the window exists."""
        marker = self.path("lobby-window.txt")
        with contextlib.suppress(FileNotFoundError):
            os.remove(marker)
        process = wine([self.path("KVOLobby.exe"), "--window"], cwd=self.dir)
        wait_for(lambda: os.path.exists(marker), 60, "the stub lobby window")
        return process


def wait_for(condition, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise AssertionError("timed out waiting for " + what)


def answer_box(caption, button, timeout_ms=60000):
    """Presses `button` ("ok"/"cancel") of the message box with `caption`.

    Returns (owned, text) of the box, or None when none appeared in time."""
    helper = wine([ANSWER_BOX, caption.encode("gbk").hex(), button, str(timeout_ms)], stdout=subprocess.PIPE)
    output, _ = helper.communicate(timeout=timeout_ms / 1000 + 30)
    if helper.returncode != 0:
        return None
    fields = dict(part.split("=", 1) for part in output.decode().split())
    return fields["owner"] == "1", bytes.fromhex(fields["text"]).decode("gbk", "replace")


class HttpServer:
    """tools/test_http_server.py on a fixed loopback port (a static root and /gen)."""

    def __init__(self, port, root=None, stall=30, static_status=None):
        self.log = tempfile.mktemp(prefix="kvo-http-log-")
        args = [sys.executable, TEST_SERVER, "--port", str(port), "--log", self.log, "--stall", str(stall),
                "--lifetime", "900"]
        if root:
            args += ["--root", root]
        if static_status:
            args += ["--static-status", str(static_status)]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.process.stdout.readline()  # the port, once listening

    def requests(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as source:
            return [json.loads(line) for line in source]

    def close(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()
        with contextlib.suppress(FileNotFoundError):
            os.remove(self.log)


def stop_wine_process(process):
    if process.poll() is None:
        process.send_signal(signal.SIGKILL)
    with contextlib.suppress(subprocess.TimeoutExpired):
        process.wait(timeout=10)


class LauncherTestCase(unittest.TestCase):
    """Base of the scenarios: fresh installation per test, cleaned up afterwards."""

    def make_installation(self, **kwargs):
        installation = Installation(**kwargs)
        self.addCleanup(installation.close)
        return installation

    def site(self, manifest_bytes, files=None):
        """A directory with the manifest under /AutoUpdate and `files` ({path: bytes}) under /files."""
        root = tempfile.mkdtemp(prefix="kvo-site-")
        self.addCleanup(shutil.rmtree, root, True)
        write_bytes(os.path.join(root, "AutoUpdate", "update.xml"), manifest_bytes)
        for path, data in (files or {}).items():
            write_bytes(os.path.join(root, "files", path), data)
        return root

    def nginx(self, root, port=PRIMARY_PORT):
        server = NginxSite(root, port)
        self.addCleanup(server.close)
        return server

    def serve(self, port, root=None, **kwargs):
        server = HttpServer(port, root, **kwargs)
        self.addCleanup(server.close)
        return server


def main():
    unittest.main(verbosity=2)
