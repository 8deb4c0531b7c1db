#!/usr/bin/env bash
# Runs every test: the Windows build's unit and end-to-end tests under Wine, and the native
# sanitizer and fuzz runs of the archive code. Installs what is missing first (needs root then).
set -uo pipefail
kvo_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$kvo_tools_dir/.." && pwd)
cd "$root"

bash tools/setup.sh || exit 1

build=${KVO_BUILD_DIR:-$root/build}
set -e
cmake --preset mingw -B "$build/mingw" >/dev/null
cmake --build "$build/mingw" -- -k 0 | grep -vE '^\[[0-9]+/[0-9]+\]' || true
cmake --build "$build/mingw"
cmake --preset native -B "$build/native" >/dev/null
cmake --build "$build/native"
set +e

source "$kvo_tools_dir/xvfb-env.sh"
kvo_env_setup "$build/mingw"
trap kvo_env_cleanup EXIT

status=0
echo "== Windows build under Wine: unit and end-to-end tests"
(cd "$build/mingw" && ctest --output-on-failure -j2 ${KVO_CTEST_ARGS:-}) || status=1
echo "== Native build: archive code under ASan/UBSan, fuzzing"
(cd "$build/native" && ctest --output-on-failure ${KVO_CTEST_ARGS:-}) || status=1
exit $status
