#!/usr/bin/env bash
# Benchmarks of the launcher against baselines of the same run; results in bench/RESULTS.md.
# Not part of the test suite. Takes a few minutes and about 1 GB of space under /tmp.
set -euo pipefail
kvo_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/../tools" && pwd)
root=$(cd "$kvo_tools_dir/.." && pwd)
cd "$root"
source "$kvo_tools_dir/windows-arch.sh"
kvo_choose_windows_arch
kvo_windows_arch_line
bash tools/setup.sh
# The anchors of the patch benchmark, from Debian's packages.
bash tools/setup.sh --bench-anchors
preset=$(kvo_windows_preset)
build=${KVO_BUILD_DIR:-$root/build}/$preset
kvo_configure_windows "$preset" "$build"
cmake --build "$build" --target KvoPublish BenchLauncher BenchLauncherSigned BenchLauncherRoots DemoModuleNew StubLobby BenchDownload MinimalWinInet \
  BenchInstall BenchStartLobby ProbeWindow BenchHash BenchWriteFiles BenchEntryCosts BenchLauncherEager BenchStartFloor BenchPatch -- -j2 | grep -vE '^\[[0-9]+/[0-9]+\]' || true
port=$(sed -n 's/^KVO_DEMO_PRIMARY_PORT:STRING=//p' "$build/CMakeCache.txt")
source "$kvo_tools_dir/xvfb-env.sh"
trap kvo_env_cleanup EXIT
kvo_env_setup "$build"
python3 bench/run.py --build "$build" --port "$port" "$@"
