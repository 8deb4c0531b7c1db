#!/usr/bin/env python3
"""Benchmarks of the launcher against baselines measured in the same run; writes RESULTS.md.

Run through bench/run.sh, which builds the programs and provides the X server and the Wine
prefix. Every Windows program runs under Wine in the same prefix; servers are nginx on loopback.
"""
import argparse
import contextlib
import datetime
import glob
import hashlib
import json
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE_DIR, "tools"))
import nginx_site  # noqa: E402
import test_http_server  # noqa: E402
from test_signing import sign_manifest  # noqa: E402
import rollout  # noqa: E402  (bench/rollout.py: the release-day simulation, no Wine)
import delta  # noqa: E402  (bench/delta.py: patches and package ranges on real release histories)

WINE_RUN = os.path.join(SOURCE_DIR, "tools", "wine-run.sh")
MB = 1000 * 1000
BLOCK = 10240
START_RUNS = 15           # no-update starts of each program (the median counts)
DOWNLOAD_RUNS = 5         # transfers of the large file by each client (the fastest counts)
INSTALL_RUNS = 3
LARGE_FILE = 200 * MB
SMALL_FILE = 20 * MB
PACKAGE_FILES = 2000
PACKAGE_BYTES = 100 * MB
ENTRY_COUNTS = (10, 1000, 10000)
INSTALLED_VERSION = 5
RUN_TIMEOUT = 300
POLL_SECONDS = 0.002
RESUME_PORT = 18493       # the test server of the resume benchmark
RESUME_RUNS = 3
RETRY_WAIT_SECONDS = 1.0  # the launcher's first retry wait, part of every resumed download
WINDOW_ENTRIES = 2000
GOAL_WINDOW_GAP_MS = 250

GOAL_DOWNLOAD = 0.90      # of the minimal WinINet loop's throughput
GOAL_DOWNLOAD_BOUNDED = 0.90  # of the same loop reading only what has come, the floor a speed floor allows
GOAL_HASH_COST = 0.10     # the hashing loop's extra time over the minimal loop
GOAL_INSTALL = 0.80       # of unzip's throughput, where the platform's floor allows it
GOAL_INSTALL_FLOOR = 0.90  # of the bare Win32 writer's throughput through temporary files
GOAL_START = 1.5          # times the baseline's start
GOAL_ENTRY_GROWTH = 11    # 10000 entries take at most this many times as long as 1000
GOAL_ENTRIES_SECONDS = 5.0
GOAL_STAGED = 1.10        # times the in-place installation of the same files, measured alongside


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(args, cwd=None):
    return subprocess.Popen([WINE_RUN] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)


def run_bench_program(args):
    """Runs a bench program; returns its result fields (ok, seconds, bytes, peak_ws)."""
    process = wine(args)
    output, _ = process.communicate(timeout=RUN_TIMEOUT)
    line = output.decode(errors="replace").strip().splitlines()[-1]
    fields = dict(part.split("=", 1) for part in line.split())
    result = {"ok": fields.pop("ok") == "1", "seconds": float(fields.pop("seconds")), "bytes": int(fields.pop("bytes")),
              "peak_ws": int(fields.pop("peak_ws"))}
    result.update((name, float(value)) for name, value in fields.items())  # a program's own timings
    return result


def read_bytes(path):
    with open(path, "rb") as source:
        return source.read()


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as out:
        out.write(data)


def random_bytes(size, seed):
    return random.Random(seed).randbytes(size)


def manifest_text(version, entries):
    """A manifest as KvoPublish writes it, for (FileName, FileVersion, URL) entries (the SHA256 of
    each is the name's, as a stand-in of the right form)."""
    lines = ['<?xml version="1.0"?>', "<UpdateInfo>",
             '  <Product productname="KvoLobby" filenum="%d" Ver="%d" Expires="2099-12-31T23:59:59Z">' % (
                 len(entries), version)]
    for name, file_version, url in entries:
        lines += ["    <File>", "      <FileName>%s</FileName>" % name,
                  "      <FileVersion>%s</FileVersion>" % file_version, "      <Length>0</Length>",
                  "      <LocalPath></LocalPath>", "      <URL>%s</URL>" % url,
                  "      <FileDateHigh>0</FileDateHigh>", "      <FileDateLow>0</FileDateLow>",
                  "      <Register>NO</Register>", "      <ZipFile>NO</ZipFile>",
                  "      <ForceOverwrite>YES</ForceOverwrite>", "      <Execute>NO</Execute>",
                  "      <SHA256>%s</SHA256>" % hashlib.sha256(name.encode()).hexdigest(), "    </File>"]
    lines += ["  </Product>", "</UpdateInfo>", ""]
    return "\r\n".join(lines).encode("gbk")


class Bench:
    def __init__(self, build, port):
        self.build = build
        self.port = port
        self.work = tempfile.mkdtemp(prefix="kvo-bench-")
        self.web = os.path.join(self.work, "web")
        os.makedirs(os.path.join(self.web, "AutoUpdate"))
        self.site = nginx_site.NginxSite(self.web, port)
        self.results = {}
        self.commands = []

    def close(self):
        self.site.close()
        if not os.environ.get("KVO_BENCH_KEEP"):
            shutil.rmtree(self.work, ignore_errors=True)

    def tool(self, *parts):
        return os.path.join(self.build, *parts)

    def publish_manifest(self, version, entries, signed=False, release_key=None):
        """The manifest, unsigned, signed with the test key, or (with `release_key`) naming key list 1
        and a fixed Issued time, signed with that release key."""
        text = manifest_text(version, entries)
        if release_key:
            text = text.replace(b' Ver="', b' Keys="1" Issued="2026-12-01T00:00:00Z" Ver="', 1)
            signed = True
        write_file(os.path.join(self.web, "AutoUpdate", "update.xml"),
                   sign_manifest(text, release_key) if signed else text)

    def publish_key_list(self):
        """Key list 1 in the web root, signed by two of the three test roots, naming release-1."""
        key = lambda name, kind: windows_path(os.path.join(SOURCE_DIR, "tests", "keys", "%s.%s" % (name, kind)))
        args = ["--key-list", windows_path(self.web), "--release-public", key("release-1", "public"),
                "--new-threshold", "2"]
        for name in ("root-a", "root-b"):
            args += ["--root-key", key(name, "private")]
        for name in ("root-a", "root-b", "root-c"):
            args += ["--new-root-public", key(name, "public")]
        publish = wine([self.tool("tools", "publish", "KvoPublish.exe")] + args)
        publish.communicate(timeout=RUN_TIMEOUT)
        assert publish.returncode == 0, "KvoPublish --key-list failed"

    def installation(self, name):
        folder = os.path.join(self.work, name)
        os.makedirs(os.path.join(folder, "LobbyDate"))
        shutil.copy(self.tool("bench", "BenchLauncher.exe"), os.path.join(folder, "KvoLauncher.exe"))
        shutil.copy(self.tool("bench", "BenchLauncherSigned.exe"), os.path.join(folder, "KvoLauncherSigned.exe"))
        shutil.copy(self.tool("bench", "BenchLauncherRoots.exe"), os.path.join(folder, "KvoLauncherRoots.exe"))
        shutil.copy(self.tool("bench", "BenchLauncherEager.exe"), os.path.join(folder, "KvoLauncherEager.exe"))
        shutil.copy(self.tool("tools", "helpers", "KVOLobby.exe"), folder)
        shutil.copy(self.tool("bench", "BenchStartLobby.exe"), folder)
        shutil.copy(self.tool("bench", "BenchStartFloor.exe"), folder)
        return folder

    @staticmethod
    def set_installed_version(folder, version):
        write_file(os.path.join(folder, "LobbyDate", "Update.INI"), b"[VerInfo]\r\nPVer=%d\r\n" % version)

    @staticmethod
    def time_to_lobby(folder, program, *args):
        """Seconds from starting `program` (with `args`) in `folder` to the lobby's start record."""
        record = os.path.join(folder, "lobby-started.txt")
        with contextlib.suppress(FileNotFoundError):
            os.remove(record)
        start = time.monotonic()
        process = wine([os.path.join(folder, program)] + list(args), cwd=folder)
        deadline = start + RUN_TIMEOUT
        while not os.path.exists(record):
            if time.monotonic() > deadline:
                process.kill()
                raise RuntimeError("%s never started the lobby" % program)
            time.sleep(POLL_SECONDS)
        elapsed = time.monotonic() - start
        process.wait(timeout=RUN_TIMEOUT)
        return elapsed

    # --- 1. no update due -----------------------------------------------------------------------
    def bench_no_update(self):
        folder = self.installation("start")
        os.makedirs(os.path.join(folder, "DownLoad"))  # so the signed starts log their verification
        self.set_installed_version(folder, INSTALLED_VERSION)
        entries = [("Lobby%d.dll" % i, "1.0.0.%d" % i, "http://127.0.0.1:%d/x%d" % (self.port, i)) for i in range(10)]
        launcher, baseline, signed, eager, floor, roots = [], [], [], [], [], []
        manifest_url = "http://127.0.0.1:%d/AutoUpdate/update.xml" % self.port
        release_key = os.path.join(SOURCE_DIR, "tests", "keys", "release-1.private")
        # The launcher with roots takes the key list at its first start and keeps it; the starts
        # timed are the ones after, which find nothing new.
        self.publish_key_list()
        self.publish_manifest(INSTALLED_VERSION, entries, release_key=release_key)
        self.time_to_lobby(folder, "KvoLauncherRoots.exe")
        for _ in range(START_RUNS):  # interleaved, so drifts of the machine hit all alike
            self.publish_manifest(INSTALLED_VERSION, entries)
            launcher.append(self.time_to_lobby(folder, "KvoLauncher.exe"))
            baseline.append(self.time_to_lobby(folder, "BenchStartLobby.exe"))
            eager.append(self.time_to_lobby(folder, "KvoLauncherEager.exe"))
            floor.append(self.time_to_lobby(folder, "BenchStartFloor.exe", manifest_url))
            self.publish_manifest(INSTALLED_VERSION, entries, signed=True)
            signed.append(self.time_to_lobby(folder, "KvoLauncherSigned.exe"))
            self.publish_manifest(INSTALLED_VERSION, entries, release_key=release_key)
            roots.append(self.time_to_lobby(folder, "KvoLauncherRoots.exe"))
        log = b"".join(read_bytes(path) for path in glob.glob(os.path.join(folder, "DownLoad", "*.log")))
        assert log.count("清单签名已验证".encode("gbk")) == 2 * START_RUNS + 1, "a signed start did not verify"
        assert log.count("密钥列表已更新".encode("gbk")) == 1, "the key list was not taken"
        assert self.site.access_paths().count("/AutoUpdate/keys.xml") == 1, "a later start fetched the key list again"
        self.results["start"] = {"launcher": statistics.median(launcher), "baseline": statistics.median(baseline),
                                 "signed": statistics.median(signed), "eager": statistics.median(eager),
                                 "launcher_all": launcher, "baseline_all": baseline, "signed_all": signed,
                                 "eager_all": eager, "floor": statistics.median(floor), "floor_all": floor,
                                 "roots": statistics.median(roots), "roots_all": roots}
        self.commands.append("no update: the launcher without a key (unsigned manifest), BenchStartLobby.exe, the "
                             "launcher with its system libraries loaded first (BenchEagerMain.cpp), BenchStartFloor.exe "
                             "(the same manifest fetched and loaded into the XML component, nothing else) and the "
                             "launcher built with the test key (the same manifest signed) and the launcher built with "
                             "three test roots holding key list 1 (the manifest signed by its release key, after one "
                             "untimed start that took the list) (PVer = Ver = %d), %d starts each, "
                             "time from the process start to the stub lobby's start record" % (INSTALLED_VERSION,
                                                                                               START_RUNS))

    # --- 2. downloads ---------------------------------------------------------------------------
    def bench_download(self):
        bodies = {}
        for name, size, seed in (("large.bin", LARGE_FILE, 1), ("small.bin", SMALL_FILE, 2)):
            bodies[name] = random_bytes(size, seed)
            write_file(os.path.join(self.web, "files", name), bodies[name])
        large_hash = hashlib.sha256(bodies["large.bin"]).hexdigest()
        target = os.path.join(self.work, "downloads")
        url = "http://127.0.0.1:%d/files/large.bin" % self.port

        def fresh_target():
            # Every client writes into an empty folder: replacing the previous run's 200 MB file would
            # time the file system freeing it, differently for a rename and for a truncation.
            shutil.rmtree(target, ignore_errors=True)
            os.makedirs(target)
            return target

        curl, minimal, hashed, bounded, launcher = [], [], [], [], []
        for _ in range(DOWNLOAD_RUNS):
            out = subprocess.run(["curl", "-s", "-o", os.path.join(fresh_target(), "curl.bin"), "-w", "%{time_total}",
                                  url], stdout=subprocess.PIPE, check=True, timeout=RUN_TIMEOUT)
            curl.append(float(out.stdout))
            for times, extra in ((minimal, []), (hashed, ["sha256"]), (bounded, ["bounded"])):
                result = run_bench_program([self.tool("bench", "MinimalWinInet.exe"), "127.0.0.1", str(self.port),
                                            "/files/large.bin", windows_path(os.path.join(fresh_target(), "m.bin"))]
                                           + extra)
                assert result["ok"] and result["bytes"] == LARGE_FILE, result
                times.append(result["seconds"])
            result = run_bench_program([self.tool("bench", "BenchDownload.exe"), url, windows_path(fresh_target()),
                                        large_hash])
            assert result["ok"] and result["bytes"] == LARGE_FILE, result
            launcher.append(result["seconds"])
            large_peak = result["peak_ws"]
        hash_alone = [run_bench_program([self.tool("bench", "BenchHash.exe"), str(LARGE_FILE)])["seconds"]
                      for _ in range(DOWNLOAD_RUNS)]
        small = run_bench_program([self.tool("bench", "BenchDownload.exe"),
                                   "http://127.0.0.1:%d/files/small.bin" % self.port, windows_path(fresh_target()),
                                   hashlib.sha256(bodies["small.bin"]).hexdigest()])
        assert small["ok"] and small["bytes"] == SMALL_FILE, small
        # The fastest transfer: other work on the shared machine only ever slows a client down.
        self.results["download"] = {"curl": min(curl), "minimal": min(minimal), "hashed": min(hashed),
                                    "bounded": min(bounded), "launcher": min(launcher), "hash_alone": min(hash_alone),
                                    "peak_small": small["peak_ws"], "peak_large": large_peak,
                                    "all": (curl, minimal, hashed, launcher)}
        for name in ("large.bin", "small.bin"):
            os.remove(os.path.join(self.web, "files", name))
        shutil.rmtree(target)
        self.commands.append("download: %s from nginx, %d runs each of `curl -s -o FILE URL`, MinimalWinInet.exe "
                             "(10240-byte reads; without and with SHA-256 of every block, and with each read bounded "
                             "by what InternetQueryDataAvailable says has come) and BenchDownload.exe "
                             "(CUpdateEngine::DownloadFile of an entry with the body's SHA256, into the staging area; the commit "
                             "that follows is not timed here), each into an empty "
                             "folder; BenchHash.exe (the SHA-256 of 200 MB from memory in 10240-byte pieces); peak "
                             "working set by GetProcessMemoryInfo for 20 MB and 200 MB" % (url, DOWNLOAD_RUNS))

    # --- 3. package installation ----------------------------------------------------------------
    def bench_install(self):
        release = os.path.join(self.work, "release")
        each = PACKAGE_BYTES // PACKAGE_FILES
        noise = random.Random(3)
        for i in range(PACKAGE_FILES):
            # Half text that deflates well, half noise that does not, like real lobby data.
            data = (b"map line %08d\r\n" % i) * (each // 2 // 19) + noise.randbytes(each // 2)
            write_file(os.path.join(release, "Pack", "d%02d" % (i % 40), "f%04d.dat" % i), data[:each])
        packaged = os.path.join(self.work, "packaged")
        publish = wine([self.tool("tools", "publish", "KvoPublish.exe"), "--release", windows_path(release), "--out",
                        windows_path(packaged), "--base-url", "http://127.0.0.1/", "--version", "1",
                        "--package", "Pack"])
        publish.communicate(timeout=RUN_TIMEOUT)
        assert publish.returncode == 0, "KvoPublish failed"
        archive = os.path.join(packaged, "Pack.zip")
        shutil.rmtree(release)
        launcher, staged, commit, unzip, plain, replaced = [], [], [], [], [], []
        each_size = PACKAGE_BYTES // PACKAGE_FILES
        for run in range(INSTALL_RUNS):
            for times, mode in ((plain, "plain"), (replaced, "replace")):
                folder = os.path.join(self.work, "floor-%s-%d" % (mode, run))
                result = run_bench_program([self.tool("bench", "BenchWriteFiles.exe"), windows_path(folder),
                                            str(PACKAGE_FILES), str(each_size), "40", mode])
                assert result["ok"], result
                times.append(result["seconds"])
                shutil.rmtree(folder)
            for mode in ([], ["staged"]):
                folder = os.path.join(self.work, "install-%d" % run)
                os.makedirs(os.path.join(folder, "LobbyDate"))  # where a commit records the version
                shutil.copy(archive, folder)
                result = run_bench_program([self.tool("bench", "BenchInstall.exe"),
                                            windows_path(os.path.join(folder, "Pack.zip"))] + mode)
                assert result["ok"], result
                (staged if mode else launcher).append(result["seconds"])
                if mode:
                    commit.append(result["commit"])
                shutil.rmtree(folder)
            folder = os.path.join(self.work, "unzip-%d" % run)
            start = time.monotonic()
            subprocess.run(["unzip", "-q", "-o", archive, "-d", folder], check=True, timeout=RUN_TIMEOUT)
            unzip.append(time.monotonic() - start)
            shutil.rmtree(folder)
        self.results["install"] = {"launcher": statistics.median(launcher), "unzip": statistics.median(unzip),
                                   "staged": statistics.median(staged), "commit": statistics.median(commit),
                                   "file": self.install_large_file(),
                                   "plain": statistics.median(plain), "replaced": statistics.median(replaced),
                                   "archive": os.path.getsize(archive), "all": (launcher, unzip, plain, replaced)}
        shutil.rmtree(packaged)
        self.commands.append("install: a package of %d files, %d MB (made by KvoPublish), %d runs each of "
                             "BenchInstall.exe (InstallPackage entry by entry in place, and the same staged and "
                             "committed as a release, the commit timed on its own), `unzip -q -o Pack.zip -d DIR` and "
                             "BenchWriteFiles.exe "
                             "(the same number of files of the same average size in 40 folders, written as they are, "
                             "straight or each through a temporary file and a write-through move), each into a new "
                             "folder" % (PACKAGE_FILES, PACKAGE_BYTES // MB, INSTALL_RUNS))

    def install_large_file(self):
        """The median seconds of putting a checked 200 MB file over an installed one, in place (a temporary
        file beside it and a move) and staged and committed, runs of the two interleaved."""
        inplace, staged, commit = [], [], []
        for run in range(INSTALL_RUNS):
            for mode in ([], ["staged"]):
                folder = os.path.join(self.work, "file-%d" % run)
                write_file(os.path.join(folder, "large.bin"), b"the installed copy")
                os.makedirs(os.path.join(folder, "LobbyDate"))
                result = run_bench_program([self.tool("bench", "BenchInstall.exe"),
                                            windows_path(os.path.join(folder, "large.bin")), str(LARGE_FILE)] + mode)
                assert result["ok"], result
                (staged if mode else inplace).append(result["seconds"])
                if mode:
                    commit.append(result["commit"])
                shutil.rmtree(folder)
        self.commands.append("install of one file: BenchInstall.exe FILE %d [staged], %d runs each, interleaved: "
                             "%d MB written in 10240-byte blocks and hashed, over an installed FILE, through a "
                             "temporary file beside it and a move, or staged and committed (journal, flush, backup, "
                             "rename, PVer)" % (LARGE_FILE, INSTALL_RUNS, LARGE_FILE // MB))
        return {"inplace": statistics.median(inplace), "staged": statistics.median(staged),
                "commit": statistics.median(commit)}

    # --- 4. per-entry cost ----------------------------------------------------------------------
    def bench_entries(self):
        module = self.tool("tools", "publish", "demo", "new", "LobbyCore.dll")
        times = {}
        for count in ENTRY_COUNTS:
            folder = self.installation("entries-%d" % count)
            os.makedirs(os.path.join(folder, "m"))
            entries = []
            for i in range(count):
                name = "m\\M%05d.dll" % i
                os.link(module, os.path.join(folder, "m", "M%05d.dll" % i))  # one module, many names
                entries.append((name, "1.0.0.5", "http://127.0.0.1:%d/never/%d" % (self.port, i)))
            self.publish_manifest(INSTALLED_VERSION + 1, entries)
            self.set_installed_version(folder, INSTALLED_VERSION)
            times[count] = self.time_to_lobby(folder, "KvoLauncher.exe")
            with open(os.path.join(folder, "LobbyDate", "Update.INI"), "rb") as settings:
                assert b"PVer=%d" % (INSTALLED_VERSION + 1) in settings.read(), "the run did not complete"
            if count == max(ENTRY_COUNTS):
                costs = self.entry_costs(folder, count)
            shutil.rmtree(folder)
        self.results["entries"] = {"times": times, "costs": costs}
        self.commands.append("entries: manifests of %s entries, every one a current module (hard links of one "
                             "DLL), Ver one above PVer; time from the launcher's start to the lobby's start; "
                             "BenchEntryCosts.exe over the %d modules for the cost of each step"
                             % (", ".join(map(str, ENTRY_COUNTS)), max(ENTRY_COUNTS)))

    def entry_costs(self, folder, count):
        """{step: (before ms, now ms)} per entry, from BenchEntryCosts.exe over the folder's modules."""
        process = wine([self.tool("bench", "BenchEntryCosts.exe"), windows_path(folder), str(count)])
        output, _ = process.communicate(timeout=RUN_TIMEOUT)
        costs = {}
        for line in output.decode(errors="replace").splitlines():
            fields = dict(part.split("=", 1) for part in line.split())
            costs[fields["step"]] = (float(fields["before_ms"]), float(fields["now_ms"]))
        return costs


    # --- 5. a cut download resumed ----------------------------------------------------------------
    def bench_resume(self):
        body_hash = hashlib.sha256(test_http_server.pattern_bytes(LARGE_FILE)).hexdigest()
        target = os.path.join(self.work, "resume")
        os.makedirs(target)
        log = os.path.join(self.work, "resume-requests.log")
        server = subprocess.Popen([sys.executable, os.path.join(SOURCE_DIR, "tools", "test_http_server.py"),
                                   "--port", str(RESUME_PORT), "--log", log, "--lifetime", "600"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        server.stdout.readline()  # listening
        try:
            base = "http://127.0.0.1:%d/gen?size=%d" % (RESUME_PORT, LARGE_FILE)
            whole, resumed = [], []
            for run in range(RESUME_RUNS):
                result = run_bench_program([self.tool("bench", "BenchDownload.exe"), base, windows_path(target),
                                            body_hash])
                assert result["ok"] and result["bytes"] == LARGE_FILE, result
                whole.append(result["seconds"])
                cut = "%s&close_after=%d&id=cut%d&fail=1" % (base, LARGE_FILE // 2, run)
                result = run_bench_program([self.tool("bench", "BenchDownload.exe"), cut, windows_path(target),
                                            body_hash])
                assert result["ok"] and result["bytes"] == LARGE_FILE, result
                resumed.append(result["seconds"])
        finally:
            server.kill()
            server.wait()
        ranges = [json.loads(line)["headers"].get("Range") for line in open(log, encoding="utf-8")]
        starts = [int(r[len("bytes="):-1]) for r in ranges if r]
        assert len(starts) == RESUME_RUNS, ranges
        shutil.rmtree(target)
        self.results["resume"] = {"whole": min(whole), "resumed": min(resumed), "starts": starts,
                                  "remainder": LARGE_FILE - LARGE_FILE // 2}
        self.commands.append("resume: %d runs each of BenchDownload.exe (with the body's SHA256) for a %d MB body "
                             "of the test server, whole, and cut by the server closing the connection after half of it; the "
                             "bytes of the resumed request from its Range header" % (RESUME_RUNS, LARGE_FILE // MB))

    # --- 6. the window during a long run of current entries ----------------------------------
    def bench_window(self):
        module = self.tool("tools", "publish", "demo", "new", "LobbyCore.dll")
        folder = self.installation("window")
        os.makedirs(os.path.join(folder, "m"))
        entries = []
        for i in range(WINDOW_ENTRIES):
            os.link(module, os.path.join(folder, "m", "M%05d.dll" % i))
            entries.append(("m\\M%05d.dll" % i, "1.0.0.5", "http://127.0.0.1:%d/never/%d" % (self.port, i)))
        self.publish_manifest(INSTALLED_VERSION + 1, entries)
        self.set_installed_version(folder, INSTALLED_VERSION)
        launcher = wine([os.path.join(folder, "KvoLauncher.exe")], cwd=folder)
        probe = subprocess.run([os.path.join(SOURCE_DIR, "tools", "wine-run.sh"),
                                self.tool("tools", "helpers", "ProbeWindow.exe"), "60000",
                                windows_path(os.path.join(folder, "KvoLauncher.exe"))],
                               stdout=subprocess.PIPE, timeout=RUN_TIMEOUT)
        launcher.wait(timeout=RUN_TIMEOUT)
        fields = dict(part.split("=") for part in probe.stdout.decode().split())
        self.results["window"] = {"longest": int(fields["longest_ms"]), "probes": int(fields["probes"])}
        shutil.rmtree(folder)
        self.commands.append("window: %d current entries; ProbeWindow.exe sends the progress window WM_NULL with "
                             "SendMessageTimeout every 200 ms for as long as it lives" % WINDOW_ENTRIES)


def machine_text():
    cpu = "unknown"
    with open("/proc/cpuinfo") as source:
        for line in source:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as source:
        memory = int(source.readline().split()[1]) // 1024 // 1024
    wine_version = subprocess.run(["wine", "--version"], stdout=subprocess.PIPE, text=True).stdout.strip()
    nginx_version = subprocess.run(["nginx", "-v"], stderr=subprocess.PIPE, text=True).stderr.strip()
    return ("%s, %d cores, %d GiB; %s %s; %s; %s" % (cpu, os.cpu_count(), memory, platform.system(),
                                                     platform.release(), wine_version, nginx_version))


def build_text():
    """Which Windows build ran: the shipped 32-bit one, or the 64-bit one where no 32-bit code runs."""
    if os.environ.get("KVO_WINDOWS_ARCH") == "x86_64":
        return "the 64-bit Windows build (x86_64) under 64-bit Wine (%s)" % os.environ.get("KVO_WINDOWS_ARCH_WHY", "")
    return "the 32-bit Windows build (i686), as shipped, under 32-bit Wine"


def verdict(ok):
    return "met" if ok else "**missed**"


def report_header(elapsed, command):
    return ["# Benchmarks", "",
            "Machine: %s  " % machine_text(),
            "Build: %s  " % build_text(),
            "Date: %s  " % datetime.datetime.now().strftime("%Y-%m-%d %H:%M"),
            "Command: `%s` (%.0f s in all)" % (command, elapsed), "",
            "Figures are medians of the runs given below (downloads: the fastest); ratios compare with",
            "baselines measured in the same run, on the same machine, the same Wine prefix and the same",
            "loopback nginx. The machine's 2 cores are shared with other work, so single figures vary",
            "by tens of per cent between runs; the ratios vary less.", ""]


def start_section(s):
    ratio = s["launcher"] / s["baseline"]
    row = lambda name, key: "| %s | %.3f s | %.3f s | %s |" % (name, s[key], min(s[key + "_all"]), " ".join(
        "%.3f" % t for t in s[key + "_all"]))
    return ["## No update due: start to lobby", "",
            "| program | median | fastest | all runs (s) |", "|---|---|---|---|",
            row("KvoLauncher.exe (manifest fetched, version equal)", "launcher"),
            row("baseline: a program that only starts the lobby", "baseline"),
            row("the launcher with its system libraries loaded before its first line, as static imports were",
                "eager"),
            row("floor: the road's platform calls alone (guard, lobby window, settings, fetch, XML component)",
                "floor"),
            row("the launcher built with a key (the same manifest, signed and verified)", "signed"),
            row("the launcher built with three roots, holding a key list (signed by its release key)", "roots"),
            "", "Ratio %.2f× the baseline (fastest runs: %.2f×); goal within %.1f×: %s." % (
                ratio, min(s["launcher_all"]) / min(s["baseline_all"]), GOAL_START, verdict(ratio <= GOAL_START)),
            "", "The road's platform calls alone take %.2f× the baseline; the launcher takes %.2f× that floor." % (
                s["floor"] / s["baseline"], s["launcher"] / s["floor"]),
            "", "Loading the system libraries on first use instead of before the first line: %.0f ms (%.2f× the "
                "start that loads them first)." % (1000 * (s["eager"] - s["launcher"]), s["launcher"] / s["eager"]),
            "", "Verifying the signature costs %.0f ms (%.2f× the unsigned start)." % (
                1000 * (s["signed"] - s["launcher"]), s["signed"] / s["launcher"]),
            "", "With roots and a key list held: %.2f× the baseline (fastest runs: %.2f×), %.2f× the start with one "
                "built-in key; the starts after the first ask for the manifest alone (nginx's log)." % (
                s["roots"] / s["baseline"], min(s["roots_all"]) / min(s["baseline_all"]), s["roots"] / s["signed"]),
            ""]


def download_section(d):
    mbps = lambda seconds: LARGE_FILE / MB / seconds
    download_ratio = d["minimal"] / d["launcher"]
    bounded_ratio = d["bounded"] / d["launcher"]
    flat = abs(d["peak_large"] - d["peak_small"]) <= max(1, d["peak_small"]) * 0.05
    lines = ["## Download of a 200 MB file from nginx on loopback", "",
              "| client | fastest of %d | throughput |" % DOWNLOAD_RUNS, "|---|---|---|",
              "| curl (native) | %.3f s | %.0f MB/s |" % (d["curl"], mbps(d["curl"])),
              "| minimal WinINet loop under Wine, 10240-byte reads | %.3f s | %.0f MB/s |" % (
                  d["minimal"], mbps(d["minimal"])),
              "| the same loop hashing every block with the launcher's SHA-256 | %.3f s | %.0f MB/s |" % (
                  d["hashed"], mbps(d["hashed"])),
              "| the same loop reading only what has come, as a speed floor needs | %.3f s | %.0f MB/s |" % (
                  d["bounded"], mbps(d["bounded"])),
              "| the launcher's DownloadFile under Wine (hashes every block) | %.3f s | %.0f MB/s |" % (
                  d["launcher"], mbps(d["launcher"])),
              "| the launcher's SHA-256 alone, 200 MB from memory | %.3f s | %.0f MB/s |" % (
                  d["hash_alone"], mbps(d["hash_alone"])),
              "", "The launcher reaches %.0f %% of the minimal WinINet loop (goal %.0f %%: %s) and %.0f %% of curl." % (
                  100 * download_ratio, 100 * GOAL_DOWNLOAD, verdict(download_ratio >= GOAL_DOWNLOAD),
                  100 * d["curl"] / d["launcher"]),
              "", "Reading only what has come costs the minimal loop %.0f %% of its throughput; against the loop that "
                  "reads that way, the floor of a download with a speed floor, the launcher reaches %.0f %% "
                  "(goal %.0f %%: %s)." % (100 * (1 - d["minimal"] / d["bounded"]), 100 * bounded_ratio,
                                           100 * GOAL_DOWNLOAD_BOUNDED, verdict(bounded_ratio >= GOAL_DOWNLOAD_BOUNDED)),
              "", "Hashing costs %.0f %% of the minimal loop's time (goal at most %.0f %%: %s); the hash alone "
                  "takes %.0f %% of it." % (
                  100 * (d["hashed"] / d["minimal"] - 1), 100 * GOAL_HASH_COST,
                  verdict(d["hashed"] / d["minimal"] - 1 <= GOAL_HASH_COST), 100 * d["hash_alone"] / d["minimal"]),
              "", "Peak working set of the downloading process: %.1f MB for 20 MB, %.1f MB for 200 MB (%s: %s)." % (
                  d["peak_small"] / MB, d["peak_large"] / MB, "flat" if flat else "grows with the file",
                  verdict(flat)), ""]
    return lines


def install_section(i):
    mbps = lambda seconds: PACKAGE_BYTES / MB / seconds
    unzip_ratio = i["unzip"] / i["launcher"]
    floor_ratio = i["replaced"] / i["launcher"]
    plain_reach = i["unzip"] / i["plain"]
    return ["## Installing a package of %d files, %d MB (%.0f MB deflated)" % (
                PACKAGE_FILES, PACKAGE_BYTES // MB, i["archive"] / MB), "",
            "| unpacker | median time | throughput |", "|---|---|---|",
            "| Info-ZIP unzip (native) | %.2f s | %.0f MB/s |" % (i["unzip"], mbps(i["unzip"])),
            "| the launcher's InstallPackage under Wine | %.2f s | %.0f MB/s |" % (i["launcher"], mbps(i["launcher"])),
            "| floor under Wine: the files written as they are, no archive | %.2f s | %.0f MB/s |" % (
                i["plain"], mbps(i["plain"])),
            "| floor under Wine: the same, each through a temporary file and a move | %.2f s | %.0f MB/s |" % (
                i["replaced"], mbps(i["replaced"])),
            "", "The launcher reaches %.0f %% of unzip's throughput (goal %.0f %%: %s). Writing the bare files "
                "under Wine, with nothing to inflate or check, reaches %.0f %% of unzip: %s." % (
                100 * unzip_ratio, 100 * GOAL_INSTALL, verdict(unzip_ratio >= GOAL_INSTALL), 100 * plain_reach,
                "the goal is out of reach of any Win32 unpacker here" if plain_reach < GOAL_INSTALL
                else "the goal is within reach"),
            "", "Against the floor that never replaces a good file with a broken one (temporary file and move) the "
                "launcher reaches %.0f %% (goal %.0f %%: %s)." % (
                100 * floor_ratio, 100 * GOAL_INSTALL_FLOOR, verdict(floor_ratio >= GOAL_INSTALL_FLOOR)), ""] + \
        staged_section(i)


def staged_section(i):
    f = i["file"]
    package_ratio = i["staged"] / i["launcher"]
    file_ratio = f["staged"] / f["inplace"]
    return ["## A whole release against files put in place one by one", "",
            "| what | in place, one by one | staged, then committed | of which the commit | ratio |",
            "|---|---|---|---|---|",
            "| the package of %d files | %.2f s | %.2f s | %.2f s | %.2f |" % (
                PACKAGE_FILES, i["launcher"], i["staged"], i["commit"], package_ratio),
            "| one file of %d MB | %.2f s | %.2f s | %.2f s | %.2f |" % (
                LARGE_FILE // MB, f["inplace"], f["staged"], f["commit"], file_ratio),
            "", "A staged release takes %.2f times as long as the same package put in place entry by entry, and "
                "%.2f times for the large file (goal at most %.2f: %s). The commit renames and flushes; it copies "
                "nothing." % (package_ratio, file_ratio, GOAL_STAGED,
                              verdict(package_ratio <= GOAL_STAGED and file_ratio <= GOAL_STAGED)), ""]


def entries_section(e):
    times, costs = e["times"], e["costs"]
    first = ENTRY_COUNTS[0]
    largest = max(ENTRY_COUNTS)
    lines = ["## Cost per entry: manifests whose entries are all up to date", "",
             "| entries | start to lobby | per entry (all) | per entry beyond the %d-entry run |" % first,
             "|---|---|---|---|"]
    for count in ENTRY_COUNTS:
        extra = "—" if count == first else "%.2f ms" % (1000 * (times[count] - times[first]) / (count - first))
        lines.append("| %d | %.2f s | %.2f ms | %s |" % (count, times[count], 1000 * times[count] / count, extra))
    growth = times[largest] / times[1000]
    lines += ["", "Each run includes the one-second start timer of the progress window. %d entries take %.2f s "
                  "(goal at most %.0f s: %s), %.1f× the time of 1000 (goal at most %d×: %s)." % (
                  largest, times[largest], GOAL_ENTRIES_SECONDS, verdict(times[largest] <= GOAL_ENTRIES_SECONDS),
                  growth, GOAL_ENTRY_GROWTH, verdict(growth <= GOAL_ENTRY_GROWTH)), "",
              "Where the time of one current entry goes, over the %d modules of the largest run (ms per entry; "
              "each step the launcher took before this release beside the one it takes now):" % largest, "",
              "| step | before | now |", "|---|---|---|"]
    names = {"version": "version of the local module (system version functions / a few reads of its resources)",
             "open_probe": "an open of the module only to learn it can be read (gone)",
             "leftover": "a leftover temporary file beside it (deleting the name / one listing per folder)",
             "label": "the file name set on the label from the worker (a round trip to the window's thread; "
                      "now a posted notice)",
             "log": "its log line",
             "parse": "its File element read from the manifest through the XML component"}
    shown = lambda ms: "—" if ms < 0 else "%.3f" % ms
    for step, (before, now) in costs.items():
        lines.append("| %s | %s | %s |" % (names.get(step, step), shown(before), shown(now)))
    return lines + [""]


def resume_section(r):
    transferred = [LARGE_FILE - start for start in r["starts"]]
    worst = max(abs(t / r["remainder"] - 1) for t in transferred)
    wait = RETRY_WAIT_SECONDS
    return ["## A 200 MB download cut at half and resumed", "",
            "| download | fastest of %d |" % RESUME_RUNS, "|---|---|",
            "| whole, uninterrupted | %.3f s |" % r["whole"],
            "| cut after 100 MB (the server closes), resumed after the first retry wait (%.0f s) | %.3f s |" % (
                wait, r["resumed"]), "",
            "The resumed request asked for %s bytes, %.2f %% at most off the %d bytes after the cut (goal within "
            "1 %%: %s). Without the retry wait the cut download took %.2f× the uninterrupted one." % (
                " / ".join(str(t) for t in transferred), 100 * worst, r["remainder"], verdict(worst <= 0.01),
                (r["resumed"] - wait) / r["whole"]), ""]


def window_section(w):
    return ["## The window through %d current entries" % WINDOW_ENTRIES, "",
            "The longest time between two answers of the progress window to SendMessageTimeout probes sent "
            "every 200 ms: %d ms over %d probes (goal at most 250 ms: %s)." % (
                w["longest"], w["probes"], verdict(w["longest"] <= GOAL_WINDOW_GAP_MS)), ""]


def bench_delta(bench):
    bench.results["delta"] = delta.DeltaBench(bench, run_bench_program, WINE_RUN, windows_path).run()
    bench.commands.append("only what changed: bench/delta.py (npm pack of each release, KvoPublish --previous, the "
                          "launcher under Wine against nginx, the anchors from Debian's packages)")


def simulate_release_day(bench):
    bench.results["rollout"] = rollout.simulate()[0]


# Each part, in run order: the step that measures it (into results[name]) and the section that reports it.
PARTS = {"start": (Bench.bench_no_update, start_section),
         "download": (Bench.bench_download, download_section),
         "install": (Bench.bench_install, install_section),
         "entries": (Bench.bench_entries, entries_section),
         "resume": (Bench.bench_resume, resume_section),
         "window": (Bench.bench_window, window_section),
         "delta": (bench_delta, delta.section),
         "rollout": (simulate_release_day, lambda lines: lines)}


def report(bench, elapsed, command, parts):
    lines = report_header(elapsed, command)
    for name in parts:
        lines += PARTS[name][1](bench.results[name])
    lines += ["## Exact measurements", ""] + ["- " + c for c in bench.commands] + [""]
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--results", default=os.path.join(HERE, "RESULTS.md"))
    parser.add_argument("--notes", default=os.path.join(HERE, "NOTES.md"),
                        help="analysis appended to the results (why a goal is missed, what would close it)")
    parser.add_argument("--only", choices=sorted(PARTS),
                        help="measure this one part and print its section; RESULTS.md stays as it is")
    args = parser.parse_args()
    parts = [args.only] if args.only else list(PARTS)
    started = time.monotonic()
    bench = Bench(args.build, args.port)
    try:
        for name in parts:
            step = PARTS[name][0]
            print("bench: %s" % step.__name__, flush=True)
            step(bench)
    finally:
        bench.close()
    if args.only:
        command = "bash bench/run.sh --only %s" \
            % args.only
        print("\n".join(report(bench, time.monotonic() - started, command, parts)))
        return 0
    lines = report(bench, time.monotonic() - started, "bash bench/run.sh", parts)
    if os.path.exists(args.notes):
        with open(args.notes, encoding="utf-8") as source:
            lines += [source.read()]
    with open(args.results, "w", encoding="utf-8") as out:
        out.write("\n".join(lines))
    print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
