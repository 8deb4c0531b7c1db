#!/usr/bin/env bash
# Runs every test: the Windows build's unit and end-to-end tests under Wine, and the native
# sanitizer and fuzz runs of the archive code. Installs what is missing first (needs root then).
# The Windows build under test is the 32-bit one where this machine runs 32-bit code, else the
# 64-bit one under 64-bit Wine (tools/windows-arch.sh; KVO_WINDOWS_ARCH overrides); the shipped
# 32-bit launcher is built and checked either way.
# The Wine prefixes are made while the code compiles, and the native tests run while the Windows
# ones wait on Wine and the loopback servers.
set -uo pipefail
kvo_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$kvo_tools_dir/.." && pwd)
cd "$root"

source "$kvo_tools_dir/windows-arch.sh"
kvo_choose_windows_arch || exit 1
kvo_windows_arch_line
bash tools/setup.sh || exit 1

build=${KVO_BUILD_DIR:-$root/build}
preset=$(kvo_windows_preset)
windows=$build/$preset
shipped=$build/mingw
source "$kvo_tools_dir/xvfb-env.sh"
trap kvo_env_cleanup EXIT
kvo_display_setup
mkdir -p "$windows"
prefixes=()
for prefix in wineprefix wineprefix-window; do  # the second one is the window scenario's own
  KVO_WINEPREFIX="$windows/$prefix" "$kvo_tools_dir/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 &
  prefixes+=($!)
done

quiet_build() { cmake --build "$@" | grep -vE '^\[[0-9]+/[0-9]+\]' || true; }
set -e
if [ "$windows" != "$shipped" ]; then
  # Only the shipped program of the 32-bit build: its checks read it, nothing runs it here.
  kvo_configure_windows mingw "$shipped"
  quiet_build "$shipped" --target KvoLauncher
fi
kvo_configure_windows "$preset" "$windows" -DKVO_SHIPPED_LAUNCHER="$shipped/app/KvoLauncher.exe"
quiet_build "$windows" -- -k 0
cmake --build "$windows"
[ "$windows" = "$shipped" ] || cmake --build "$shipped" --target KvoLauncher
set +e
wait "${prefixes[@]}"
kvo_env_setup "$windows"

native_log="$build/native-tests.log"
(
  set -e
  cmake --preset native -B "$build/native" >/dev/null
  quiet_build "$build/native"
  cd "$build/native" && ctest --output-on-failure ${KVO_CTEST_ARGS:-}
) >"$native_log" 2>&1 &
native=$!

status=0
echo "== Windows build ($KVO_WINDOWS_ARCH) under Wine: unit and end-to-end tests"
(cd "$windows" && ctest --output-on-failure -j3 ${KVO_CTEST_ARGS:-}) || status=1
echo "== Native build: archive code under ASan/UBSan, fuzzing"
wait "$native" || status=1
cat "$native_log"
exit $status
