#!/usr/bin/env python3
"""What an update costs in bytes when players fetch only what changed, on real release histories.

Three series taken with `npm pack NAME@VERSION` (nobody here made them): a 32-bit program, a
folder of DLLs where one is renamed between releases, and a folder of about 7 400 small files
published as one package. For each pair of releases (consecutive ones, and first to last with both
earlier releases given to --previous) the launcher updates an installation of the older one under
Wine against nginx, and the bytes on the wire (requests and responses with their headers) are
read from nginx's log. Beside it: the whole files, the anchors run from Debian's packages on the
same pair (bsdiff, xdelta3 -9, zstd --patch-from --ultra -22 --long=31, zsync with the old file as
seed), and for the package the compressed size of the entries that changed. Run from bench/run.py
(--only delta), which provides the build, Wine and the launcher's nginx.
"""
import contextlib
import hashlib
import os
import random
import shutil
import subprocess
import tarfile
import time
import zipfile
import zlib

import nginx_site
from make_patch_seeds import varint  # the patch format's numbers, as its seeds write them

SERIES = (
    {"key": "esbuild", "title": "esbuild.exe (@esbuild/win32-ia32)", "npm": "@esbuild/win32-ia32",
     "versions": ("0.24.0", "0.24.1", "0.24.2"), "take": "esbuild.exe", "package": None},
    {"key": "sharp", "title": "lib/ of @img/sharp-win32-ia32 (3 DLLs, one renamed)", "npm": "@img/sharp-win32-ia32",
     "versions": ("0.34.1", "0.34.2", "0.34.3"), "take": "lib", "package": None},
    {"key": "mdi", "title": "svg/ of @mdi/svg as one package", "npm": "@mdi/svg",
     "versions": ("7.2.96", "7.3.67", "7.4.47"), "take": "svg", "package": "svg"},
)
# (older, newer, releases given to --previous), as indexes into a series' versions.
PAIRS = ((0, 1, (0,)), (1, 2, (1,)), (0, 2, (0, 1)))
# An installation of the first release, when only the second was given to --previous.
NOT_GIVEN = (0, 2, (1,))
GOAL_EXECUTABLE_ANCHOR = 1.25
GOAL_PACKAGE_IDEAL = 1.5
GOAL_NOT_GIVEN = 1.01
GOAL_DIFF_SECONDS = 60
GOAL_DIFF_MEMORY = 1000 * 1000 * 1000
GOAL_APPLY_MEMORY = 64 * 1000 * 1000
SYNTHETIC_DIFF = 50 * 1000 * 1000
SYNTHETIC_APPLY = 200 * 1000 * 1000
ZSYNC_PORT_OFFSET = 7  # the zsync anchor's own nginx, beside the launcher's port
MB = 1000 * 1000


def npm_release(cache, name, version, take, into):
    """`take` (a file or folder of the npm package NAME@VERSION) copied into the folder `into`."""
    os.makedirs(cache, exist_ok=True)
    tarball = os.path.join(cache, "%s-%s.tgz" % (name.strip("@").replace("/", "-"), version))
    if not os.path.exists(tarball):
        packed = subprocess.run(["npm", "pack", "%s@%s" % (name, version), "--silent"], cwd=cache, check=True,
                                stdout=subprocess.PIPE).stdout.decode().split()[-1]
        os.replace(os.path.join(cache, packed), tarball)
    with tarfile.open(tarball) as archive:
        members = [m for m in archive.getmembers()
                   if m.isfile() and (m.name == "package/" + take or m.name.startswith("package/" + take + "/"))]
        for member in members:
            target = os.path.join(into, member.name[len("package/"):])
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with archive.extractfile(member) as source, open(target, "wb") as out:
                shutil.copyfileobj(source, out)
            os.utime(target, (member.mtime, member.mtime))  # the packages' times, so ZIPs come out alike


def files_below(root):
    """{relative path with "/": full path} of every file below root."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            found[os.path.relpath(path, root).replace(os.sep, "/")] = path
    return found


def counterpart(old_files, name, new_names):
    """The old file a player holds where the new release has `name`, as the publishing tool picks it."""
    if name in old_files:
        return old_files[name]
    folder, _, base = name.rpartition("/")
    extension = os.path.splitext(base)[1].lower()
    best, best_start = None, 0
    for old in sorted(old_files):
        old_folder, _, old_base = old.rpartition("/")
        if old_folder != folder or os.path.splitext(old_base)[1].lower() != extension or old in new_names:
            continue
        start = len(os.path.commonprefix([old_base.lower(), base.lower()]))
        if start > best_start:
            best, best_start = old, start
    return old_files[best] if best else None


def package_index(release, package):
    lines = []
    for entry, path in files_below(os.path.join(release, package)).items():
        with open(path, "rb") as source:
            lines.append(((package + "/" + entry).encode("gbk"), hashlib.sha256(source.read()).hexdigest()))
    return b"".join(digest.encode() + b" " + entry + b"\n" for entry, digest in sorted(lines))


def size_of(path):
    return os.path.getsize(path)


class DeltaBench:
    def __init__(self, bench, run_program, wine_run, windows_path):
        """`run_program` runs a bench program and returns its result fields."""
        self.bench = bench
        self.run_program = run_program
        self.wine_run = wine_run
        self.windows_path = windows_path
        self.work = os.path.join(bench.work, "delta")
        self.cache = os.path.join(os.environ.get("KVO_BENCH_CACHE", "/tmp/kvo-bench-cache"), "npm")
        self.port = bench.port

    # --- the launcher's side ------------------------------------------------------------------
    def release(self, series, index):
        folder = os.path.join(self.work, "releases", series["key"], str(index))
        if not os.path.isdir(folder):
            os.makedirs(folder)
            npm_release(self.cache, series["npm"], series["versions"][index], series["take"], folder)
        return folder

    def publish(self, series, newer, previous, label):
        """Publishes release `newer` (version newer + 1) with `previous` into a web root of its own;
        the root and the publishing time."""
        web = os.path.join(self.work, "web", series["key"], label)
        shutil.rmtree(web, ignore_errors=True)
        args = ["--release", self.windows_path(self.release(series, newer)), "--out", self.windows_path(web),
                "--base-url", "http://127.0.0.1:%d/files/" % self.port, "--version", str(newer + 1)]
        if series["package"]:
            args += ["--package", series["package"]]
        for index in previous:
            args += ["--previous", self.windows_path(self.release(series, index))]
        started = time.monotonic()
        result = subprocess.run([self.wine_run, self.bench.tool("tools", "publish", "KvoPublish.exe")] + args,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        elapsed = time.monotonic() - started
        if result.returncode != 0:
            raise RuntimeError("KvoPublish failed: %s" % result.stderr.decode("gbk", "replace"))
        return web, elapsed

    def update(self, series, older, web, label):
        """An installation of release `older` updated from `web` by the launcher: wall seconds and
        bytes on the wire."""
        folder = self.bench.installation("delta-%s-%s" % (series["key"], label))
        self.bench.set_installed_version(folder, older + 1)
        release = self.release(series, older)
        for name, path in files_below(release).items():
            target = os.path.join(folder, *name.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(path, target)
        if series["package"]:
            name = hashlib.sha256((series["package"] + ".zip").upper().encode()).hexdigest()[:16] + ".idx"
            os.makedirs(os.path.join(folder, "KvoPackages"))
            with open(os.path.join(folder, "KvoPackages", name), "wb") as out:
                out.write(package_index(release, series["package"]))
        shutil.rmtree(self.bench.web)
        shutil.copytree(web, self.bench.web)
        before = len(self.log_lines())
        seconds = self.bench.time_to_lobby(folder, "KvoLauncher.exe")
        lines = self.log_lines()[before:]
        self.check_installed(folder, series, web)
        shutil.rmtree(folder, ignore_errors=True)
        return seconds, sum(int(response) + int(request) for response, request in
                            (line.rsplit(" ", 2)[1:] for line in lines)), len(lines)

    def log_lines(self):
        with contextlib.suppress(FileNotFoundError), open(self.bench.site.access_log) as source:
            return source.read().splitlines()
        return []

    def check_installed(self, folder, series, web):
        version = open(os.path.join(web, "AutoUpdate", "update.xml"), "rb").read().split(b'Ver="')[1].split(b'"')[0]
        settings = open(os.path.join(folder, "LobbyDate", "Update.INI"), "rb").read()
        if b"PVer=" + version not in settings:
            raise RuntimeError("the update of %s did not land: %s" % (series["key"], settings))

    # --- the anchors --------------------------------------------------------------------------
    def anchors(self, old, new, scratch):
        """Bytes each anchor needs to make `new` from `old`."""
        os.makedirs(scratch, exist_ok=True)
        out = os.path.join(scratch, "patch")
        sizes = {}
        subprocess.run(["bsdiff", old, new, out], check=True)
        sizes["bsdiff"] = size_of(out)
        subprocess.run(["xdelta3", "-9", "-e", "-f", "-s", old, new, out], check=True)
        sizes["xdelta3 -9"] = size_of(out)
        subprocess.run(["zstd", "-q", "-f", "--ultra", "-22", "--long=31", "--patch-from=" + old, new, "-o", out],
                       check=True)
        sizes["zstd --patch-from"] = size_of(out)
        sizes["zsync"] = self.zsync(old, new, scratch)
        return sizes

    def zsync(self, old, new, scratch):
        """Bytes on the wire of zsync making `new` with `old` as its seed: the control file and the ranges."""
        served = os.path.join(scratch, "served")
        shutil.rmtree(served, ignore_errors=True)
        os.makedirs(served)
        shutil.copy(new, os.path.join(served, "new.bin"))
        subprocess.run(["zsyncmake", "-o", os.path.join(served, "new.bin.zsync"), "-u", "new.bin",
                        os.path.join(served, "new.bin")], check=True, stdout=subprocess.DEVNULL)
        site = nginx_site.NginxSite(served, self.port + ZSYNC_PORT_OFFSET)
        try:
            output = os.path.join(scratch, "zsync-out")
            with contextlib.suppress(FileNotFoundError):
                os.remove(output)
            subprocess.run(["zsync", "-q", "-i", old, "-o", output,
                            "http://127.0.0.1:%d/new.bin.zsync" % (self.port + ZSYNC_PORT_OFFSET)],
                           check=True, cwd=scratch, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            return site.traffic()
        finally:
            site.close()

    def series_anchors(self, series, older, newer, scratch):
        """The anchors over every changed file of the pair (plain files), or over the package's ZIPs."""
        totals = {}
        if series["package"]:
            pairs = [(self.served_package(series, older), self.served_package(series, newer))]
        else:
            old_files = files_below(self.release(series, older))
            new_files = files_below(self.release(series, newer))
            pairs = []
            for name, path in sorted(new_files.items()):
                source = counterpart(old_files, name, set(new_files))
                if source and open(source, "rb").read() != open(path, "rb").read():
                    pairs.append((source, path))
        for i, (old, new) in enumerate(pairs):
            for anchor, size in self.anchors(old, new, os.path.join(scratch, str(i))).items():
                totals[anchor] = totals.get(anchor, 0) + size
        return totals

    def served_package(self, series, index):
        """The package of release `index` as its own publish (without --previous) lays it out."""
        web, _ = self.publish(series, index, (), "alone-%d" % index)
        return os.path.join(web, "files", series["package"] + ".zip")

    def changed_entries_ideal(self, series, older, newer, package):
        """The compressed size of the package's entries whose content is new or changed."""
        old_files = files_below(os.path.join(self.release(series, older), series["package"]))
        ideal = 0
        with zipfile.ZipFile(package) as archive:
            for info in archive.infolist():
                name = info.filename.split("/", 1)[1] if "/" in info.filename else ""
                if info.is_dir() or not name:
                    continue
                old = old_files.get(name)
                if old is None or open(old, "rb").read() != archive.read(info):
                    ideal += info.compress_size
        return ideal

    def whole_bytes(self, series, newer):
        if series["package"]:
            return size_of(self.served_package(series, newer))
        return sum(size_of(path) for path in files_below(self.release(series, newer)).values())

    # --- the patch's two sides alone ------------------------------------------------------------
    def bench_patch_program(self, mode, *paths):
        return self.run_program([self.bench.tool("bench", "BenchPatch.exe"), mode] +
                                [self.windows_path(path) for path in paths])

    def synthetic(self):
        """The publishing tool's diff of a 50 MB pair and the launcher's apply of a 200 MB patch."""
        folder = os.path.join(self.work, "synthetic")
        os.makedirs(folder, exist_ok=True)
        rng = random.Random(5)
        block = bytes(rng.getrandbits(8) % 16 + 65 for _ in range(1 << 20))
        old = os.path.join(folder, "old50")
        new = os.path.join(folder, "new50")
        with open(old, "wb") as a, open(new, "wb") as b:
            for i in range(SYNTHETIC_DIFF // len(block)):
                piece = block[i:] + block[:i]
                a.write(piece)
                b.write(piece[:5000] + b"inserted" + piece[5000:] if i % 3 == 0 else piece)
        diff = self.bench_patch_program("diff", old, new, os.path.join(folder, "patch50"))
        # A 200 MB file and a patch that keeps it with one insertion: the apply's working set.
        large = os.path.join(folder, "old200")
        with open(large, "wb") as out:
            for i in range(SYNTHETIC_APPLY // len(block)):
                out.write(block)
        length = SYNTHETIC_APPLY // len(block) * len(block)
        half = length // 2
        extra = b"a new block in the middle"
        control = b"".join(varint(v) for v in (half, len(extra), 0, length - half, 0, 0))
        # The difference stream run-coded: one run of zeros over both steps.
        streams = [zlib.compress(control, 9), zlib.compress(b"\0" + varint(length), 9), zlib.compress(extra, 9)]
        patch = os.path.join(folder, "patch200")
        with open(patch, "wb") as out:
            out.write(b"KVOPTCH1" + b"".join(n.to_bytes(8, "little") for n in
                                              (length, length + len(extra)) + tuple(len(s) for s in streams)))
            for stream in streams:
                out.write(stream)
        apply = self.bench_patch_program("apply", large, patch, os.path.join(folder, "made200"))
        return {"diff": diff, "apply": apply}

    # --- the whole measurement ----------------------------------------------------------------
    def run(self):
        results = {"series": [], "synthetic": self.synthetic()}
        for series in SERIES:
            rows = []
            for older, newer, previous in PAIRS + (NOT_GIVEN,):
                label = "%d-%d-%s" % (older, newer, "".join(map(str, previous)))
                web, publish_seconds = self.publish(series, newer, previous, label)
                seconds, wire, requests = self.update(series, older, web, label)
                whole_web, _ = self.publish(series, newer, (), "whole-%d" % newer)
                whole_seconds, whole_wire, _ = self.update(series, older, whole_web, "whole-" + label)
                row = {"older": older, "newer": newer, "previous": previous, "publish_seconds": publish_seconds,
                       "seconds": seconds, "wire": wire, "requests": requests, "whole_seconds": whole_seconds,
                       "whole_wire": whole_wire, "whole": self.whole_bytes(series, newer),
                       "manifest": size_of(os.path.join(web, "AutoUpdate", "update.xml")),
                       "whole_manifest": size_of(os.path.join(whole_web, "AutoUpdate", "update.xml"))}
                if (older, newer, previous) != NOT_GIVEN:
                    row["anchors"] = self.series_anchors(series, older, newer,
                                                         os.path.join(self.work, "anchors", series["key"], label))
                    if series["package"]:
                        row["ideal"] = self.changed_entries_ideal(series, older, newer,
                                                                  os.path.join(web, "files", series["package"] + ".zip"))
                    else:
                        row["apply"] = self.largest_patch_apply(series, older, web)
                rows.append(row)
            results["series"].append({"title": series["title"], "key": series["key"], "package": series["package"],
                                      "versions": series["versions"], "rows": rows})
        return results

    def largest_patch_apply(self, series, older, web):
        """The launcher's apply of the largest patch of a pair, timed with its peak working set."""
        patches = files_below(os.path.join(web, "files", "KvoPatches")) if os.path.isdir(
            os.path.join(web, "files", "KvoPatches")) else {}
        if not patches:
            return None
        name, path = max(patches.items(), key=lambda item: size_of(item[1]))
        source = self.patch_source(web, name)
        old = os.path.join(self.release(series, older), *source.split("\\"))
        return self.bench_patch_program("apply", old, path, os.path.join(self.work, "made.bin"))

    @staticmethod
    def patch_source(web, patch_name):
        document = open(os.path.join(web, "AutoUpdate", "update.xml"), "rb").read().decode("gbk")
        element = document[:document.index(patch_name)].rsplit("<Patch ", 1)[1]
        return element.split('Source="', 1)[1].split('"', 1)[0]


def verdict(ok):
    return "met" if ok else "**missed**"


def section(results):
    lines = ["## Only what changed: patches and package ranges on real release histories", "",
             "Bytes on the wire of the launcher's update (nginx's log: every request and response with its "
             "headers, the manifest included) beside the whole files and the anchors, each run on the same pair "
             "(for the package, on the two releases' ZIPs). Goals: an executable one or two releases behind costs "
             "no more than bsdiff's patch and at most %.2f× the smallest anchor; a package no more than bsdiff's "
             "patch of the old ZIP to the new one and at most %.1f× the compressed size of its changed entries; a "
             "release not given to --previous the whole files plus at most %d %%." % (
                 GOAL_EXECUTABLE_ANCHOR, GOAL_PACKAGE_IDEAL, round((GOAL_NOT_GIVEN - 1) * 100)), ""]
    for series in results["series"]:
        versions = series["versions"]
        lines += ["### " + series["title"], "",
                  "| update | --previous | whole | launcher (wire) | bsdiff | xdelta3 -9 | zstd --patch-from | zsync | "
                  "changed entries | goal | publish | update vs whole update |", "|---|---|---|---|---|---|---|---|---|---|---|---|"]
        for row in series["rows"]:
            given = ", ".join(versions[i] for i in row["previous"])
            pair = "%s → %s" % (versions[row["older"]], versions[row["newer"]])
            anchors = row.get("anchors")
            if anchors is None:
                goal = row["wire"] <= GOAL_NOT_GIVEN * row["whole_wire"]
                lines.append("| %s (not given) | %s | %d | %d | | | | | | %.4f× the whole update: %s | %.1f s | %.2f× |" % (
                    pair, given, row["whole"], row["wire"], row["wire"] / row["whole_wire"], verdict(goal),
                    row["publish_seconds"], row["seconds"] / row["whole_seconds"]))
                continue
            smallest = min(anchors.values())
            if series["package"]:
                ok = row["wire"] <= anchors["bsdiff"] and row["wire"] <= GOAL_PACKAGE_IDEAL * row["ideal"]
                goal = "%.2f× ideal, %.2f× bsdiff: %s" % (row["wire"] / row["ideal"], row["wire"] / anchors["bsdiff"],
                                                          verdict(ok))
                ideal = "%d" % row["ideal"]
            else:
                ok = row["wire"] <= anchors["bsdiff"] and row["wire"] <= GOAL_EXECUTABLE_ANCHOR * smallest
                goal = "%.2f× smallest, %.2f× bsdiff: %s" % (row["wire"] / smallest, row["wire"] / anchors["bsdiff"],
                                                             verdict(ok))
                ideal = ""
            lines.append("| %s | %s | %d | %d | %d | %d | %d | %d | %s | %s | %.1f s | %.2f× (%.2f s / %.2f s) |" % (
                pair, given, row["whole"], row["wire"], anchors["bsdiff"], anchors["xdelta3 -9"],
                anchors["zstd --patch-from"], anchors["zsync"], ideal, goal, row["publish_seconds"],
                row["seconds"] / row["whole_seconds"], row["seconds"], row["whole_seconds"]))
        applies = [row["apply"] for row in series["rows"] if row.get("apply")]
        if applies:
            lines += ["", "Largest patch of each pair applied by the launcher's applier: " + "; ".join(
                "%.2f s, peak working set %.0f MB" % (float(a["seconds"]), int(a["peak_ws"]) / MB) for a in applies) + "."]
        lines.append("")
    synthetic = results["synthetic"]
    diff, apply = synthetic["diff"], synthetic["apply"]
    lines += ["### The patch's two sides at size", "",
              "- The publishing tool's diff of a %d MB pair: %.1f s, peak working set %.0f MB (goal within %d s and "
              "%d MB: %s)." % (SYNTHETIC_DIFF // MB, float(diff["seconds"]), int(diff["peak_ws"]) / MB, GOAL_DIFF_SECONDS,
                              GOAL_DIFF_MEMORY // MB, verdict(float(diff["seconds"]) <= GOAL_DIFF_SECONDS and
                                                              int(diff["peak_ws"]) <= GOAL_DIFF_MEMORY)),
              "- The launcher's apply of a patch to a %d MB file: %.1f s, peak working set %.0f MB (goal under %d MB: "
              "%s)." % (SYNTHETIC_APPLY // MB, float(apply["seconds"]), int(apply["peak_ws"]) / MB,
                        GOAL_APPLY_MEMORY // MB, verdict(int(apply["peak_ws"]) < GOAL_APPLY_MEMORY)), ""]
    return lines
