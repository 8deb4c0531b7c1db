#!/usr/bin/env python3
"""Release day, simulated without Wine: who takes a staged release, and where the requests go.

Rollout: many random installation ids, each with the launcher's bucket rule (the first four bytes,
big-endian, of SHA-256 of the id followed by the decimal version, modulo 100); the share whose
bucket is below Rollout takes the release. The observed share must be within 1 percentage point of
Rollout for 100 000 ids, and the first share of one release must be a fresh draw for the next.

Mirrors: the launcher's order of addresses for one file (the base, then each mirror; a wait only
after a whole round failed; an address that answered 404, a wrong length or a wrong body leaves the
list) over many downloads, with each address failing at its own rate, to show how the requests
split when one mirror fails.

    python3 bench/rollout.py            prints the tables; exit 1 when a share is off by more than 1 %
"""
import hashlib
import random
import sys

IDS = 100000
RELEASE = 8
STEPS = (0, 1, 5, 25, 50, 100)
GOAL_SHARE_POINTS = 1.0
BUCKETS = 100

DOWNLOADS = 20000
RETRY_ROUNDS = 4  # the first round and the three retries
SEED = 19

# The bucket of the launcher's own tests: the simulation's rule is the launcher's.
KNOWN_BUCKET = ("0123456789ABCDEF", 42, 59)


def bucket(install_id, version):
    digest = hashlib.sha256((install_id + str(version)).encode("ascii")).digest()
    return int.from_bytes(digest[:4], "big") % BUCKETS


def random_ids(count, rng):
    return ["%016X" % rng.getrandbits(64) for _ in range(count)]


def rollout_rows(ids):
    """(Rollout, observed per cent, off by points) for each step of a release."""
    buckets = [bucket(install_id, RELEASE) for install_id in ids]
    rows = []
    for percent in STEPS:
        share = 100.0 * sum(1 for b in buckets if b < percent) / len(ids)
        rows.append((percent, share, abs(share - percent)))
    return rows


def first_share_overlap(ids, percent):
    """Per cent of the first `percent` share of one release that is also first for the next."""
    first = {i for i in ids if bucket(i, RELEASE) < percent}
    again = sum(1 for i in first if bucket(i, RELEASE + 1) < percent)
    return 100.0 * again / len(first)


# What an attempt at an address ends with.
SERVED, MAY_PASS, NOT_HERE = "served", "may pass", "not here"


def download(addresses, rng, counts):
    """One file over `addresses` [(name, chance of MAY_PASS, chance of NOT_HERE)], as the launcher
    tries them; counts[name] gains each request, counts["waits"] each back-off wait. True when served."""
    usable = [True] * len(addresses)
    for round_ in range(RETRY_ROUNDS):
        for i, (name, may_pass, not_here) in enumerate(addresses):
            if not usable[i]:
                continue
            counts[name] += 1
            draw = rng.random()
            if draw >= may_pass + not_here:
                counts[name + " served"] += 1
                return True
            usable[i] = draw < may_pass
        if not any(usable) or round_ == RETRY_ROUNDS - 1:
            return False
        counts["waits"] += 1
    return False


MIRROR_SCENARIOS = (
    ("all healthy", (("base", 0.0, 0.0), ("mirror 1", 0.0, 0.0), ("mirror 2", 0.0, 0.0))),
    ("base down (503 to everything)", (("base", 1.0, 0.0), ("mirror 1", 0.0, 0.0), ("mirror 2", 0.0, 0.0))),
    ("base without the files (404)", (("base", 0.0, 1.0), ("mirror 1", 0.0, 0.0), ("mirror 2", 0.0, 0.0))),
    ("base down, mirror 1 failing 30 %", (("base", 1.0, 0.0), ("mirror 1", 0.3, 0.0), ("mirror 2", 0.0, 0.0))),
    ("every address failing 60 %", (("base", 0.6, 0.0), ("mirror 1", 0.6, 0.0), ("mirror 2", 0.6, 0.0))),
)


def mirror_rows(rng):
    rows = []
    for what, addresses in MIRROR_SCENARIOS:
        counts = {name + suffix: 0 for name, _, _ in addresses for suffix in ("", " served")}
        counts["waits"] = 0
        failed = sum(1 for _ in range(DOWNLOADS) if not download(addresses, rng, counts))
        requests = sum(counts[name] for name, _, _ in addresses)
        split = " / ".join("%.1f %% (%.1f %% served)" % (100.0 * counts[name] / requests,
                                                        100.0 * counts[name + " served"] / DOWNLOADS)
                           for name, _, _ in addresses)
        rows.append((what, split, requests / DOWNLOADS, counts["waits"] / DOWNLOADS, 100.0 * failed / DOWNLOADS))
    return rows


def simulate():
    """The report's section (Markdown lines) and whether every share met its goal."""
    assert bucket(*KNOWN_BUCKET[:2]) == KNOWN_BUCKET[2], "the bucket rule differs from the launcher's"
    rng = random.Random(SEED)
    ids = random_ids(IDS, rng)
    rows = rollout_rows(ids)
    ok = all(off <= GOAL_SHARE_POINTS for _, _, off in rows)
    lines = ["## Release day: staged rollout and mirrors (simulated, no Wine: `python3 bench/rollout.py`)", "",
             "%d random installation ids, release %d:" % (IDS, RELEASE), "",
             "| Rollout | installations that take it | off by |", "|---|---|---|"]
    lines += ["| %d | %.2f %% | %.2f points |" % row for row in rows]
    lines += ["", "Every share within %.0f point of Rollout: %s. Of the installations in the first 5 %% of release "
              "%d, %.1f %% are in the first 5 %% of release %d (a fresh draw: about 5 %%)." % (
                  GOAL_SHARE_POINTS, "met" if ok else "MISSED", RELEASE, first_share_overlap(ids, 5), RELEASE + 1),
              "", "%d file downloads over a base and two mirrors, tried in the launcher's order:" % DOWNLOADS, "",
              "| addresses | requests: base / mirror 1 / mirror 2 | requests per file | waits per file | files failed |",
              "|---|---|---|---|---|"]
    lines += ["| %s | %s | %.2f | %.3f | %.2f %% |" % row for row in mirror_rows(rng)]
    lines += ["", "The launcher does not spread the load: while the base serves, it carries every download; when it "
              "fails, the next mirror carries them all, so each mirror must be able to serve the whole release.", ""]
    return lines, ok


def main():
    lines, ok = simulate()
    print("\n".join(lines))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
