#!/usr/bin/env bash
# Runs every test: the Windows build's unit and end-to-end tests under Wine, and the native
# sanitizer and fuzz runs of the archive code. Installs what is missing first (needs root then).
# The Wine prefixes are made while the code compiles, and the native tests run while the Windows
# ones wait on Wine and the loopback servers.
set -uo pipefail
kvo_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$kvo_tools_dir/.." && pwd)
cd "$root"

bash tools/setup.sh || exit 1

build=${KVO_BUILD_DIR:-$root/build}
source "$kvo_tools_dir/xvfb-env.sh"
trap kvo_env_cleanup EXIT
kvo_display_setup
mkdir -p "$build/mingw"
prefixes=()
for prefix in wineprefix wineprefix-window; do  # the second one is the window scenario's own
  KVO_WINEPREFIX="$build/mingw/$prefix" "$kvo_tools_dir/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 &
  prefixes+=($!)
done

set -e
cmake --preset mingw -B "$build/mingw" >/dev/null
cmake --build "$build/mingw" -- -k 0 | grep -vE '^\[[0-9]+/[0-9]+\]' || true
cmake --build "$build/mingw"
set +e
wait "${prefixes[@]}"
kvo_env_setup "$build/mingw"

native_log="$build/native-tests.log"
(
  set -e
  cmake --preset native -B "$build/native" >/dev/null
  cmake --build "$build/native" | grep -vE '^\[[0-9]+/[0-9]+\]' || true
  cd "$build/native" && ctest --output-on-failure ${KVO_CTEST_ARGS:-}
) >"$native_log" 2>&1 &
native=$!

status=0
echo "== Windows build under Wine: unit and end-to-end tests"
(cd "$build/mingw" && ctest --output-on-failure -j3 ${KVO_CTEST_ARGS:-}) || status=1
echo "== Native build: archive code under ASan/UBSan, fuzzing"
wait "$native" || status=1
cat "$native_log"
exit $status
