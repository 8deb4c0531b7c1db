#!/usr/bin/env bash
# The main job on the embedded demo: make a throw-away update key, build the demo launcher with its
# public half, publish a signed sample release with KvoPublish, serve it on loopback, and let the
# real launcher verify it and update an installation one version behind, on your display
# (or a private Xvfb), with a screenshot of the progress window and a short report at the end.
# Everything it starts is ended on exit; what it made stays in <build>/<preset>/demo/ to look at.
# Where the kernel runs no 32-bit code, the demo runs the 64-bit build under 64-bit Wine
# (tools/windows-arch.sh); the report says which build ran.
set -euo pipefail
kvo_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$kvo_tools_dir/.." && pwd)
cd "$root"

source "$kvo_tools_dir/windows-arch.sh"
kvo_choose_windows_arch
kvo_windows_arch_line
bash tools/setup.sh

preset=$(kvo_windows_preset)
build=${KVO_BUILD_DIR:-$root/build}/$preset
export KVO_WINEPREFIX=${KVO_WINEPREFIX:-$build/wineprefix}
echo "== Building the publishing tool ($build)"
kvo_configure_windows "$preset" "$build"
cmake --build "$build" --target KvoPublish -- -j2 | grep -vE '^\[[0-9]+/[0-9]+\]' || true
port=$(sed -n 's/^KVO_DEMO_PRIMARY_PORT:STRING=//p' "$build/CMakeCache.txt")

readonly old_version=41 new_version=42
readonly throttle=250k  # per response, so the package download lasts long enough to watch
readonly package_bytes=2500000
readonly window_timeout=120
readonly window_size=380x100  # the progress window, centred on the screen

demo=$build/demo
rm -rf "$demo"
mkdir -p "$demo"
release=$demo/release web=$demo/web install=$demo/install key=$demo/demo-key
winpath() { echo "Z:$(realpath -m "$1" | tr / '\\')"; }

echo "== Making a throw-away update key and building the demo launcher that trusts it"
"$kvo_tools_dir/wine-run.sh" "$build/tools/publish/KvoPublish.exe" --new-key "$(winpath "$key")"
cmake -B "$build" -DKVO_DEMO_UPDATE_PUBLIC_KEY="$(cat "$key.public")" >/dev/null 2>&1
cmake --build "$build" --target KvoLauncherDemo DemoModuleOld DemoModuleNew StubLobby -- -j2 \
  | grep -vE '^\[[0-9]+/[0-9]+\]' || true

# --- the sample release: a newer module, a notes file with a Chinese name, a data package ---
mkdir -p "$release/Data/maps"
cp "$build/tools/publish/demo/new/LobbyCore.dll" "$release/"
printf '%s\r\n' "KvoLobby $new_version" | iconv -f utf-8 -t gbk >"$release/更新说明.txt"
head -c "$package_bytes" /dev/urandom >"$release/Data/maps/world.map"
printf 'data of version %s\r\n' "$new_version" >"$release/Data/readme.txt"

# --- the installation one version behind ---
mkdir -p "$install/LobbyDate" "$install/DownLoad" "$install/Data"
cp "$build/tools/publish/demo/KvoLauncherDemo.exe" "$install/KvoLauncher.exe"
cp "$build/tools/helpers/KVOLobby.exe" "$install/"
cp "$build/tools/publish/demo/old/LobbyCore.dll" "$install/"
printf 'data of version %s\r\n' "$old_version" >"$install/Data/readme.txt"
printf '[VerInfo]\r\nPVer=%s\r\n' "$old_version" >"$install/LobbyDate/Update.INI"

source "$kvo_tools_dir/xvfb-env.sh"
server_pid="" launcher_pid=""
cleanup() {
  [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  kvo_env_cleanup
}
trap cleanup EXIT
kvo_env_setup "$build"

echo "== Publishing version $new_version, signed"
"$kvo_tools_dir/wine-run.sh" "$build/tools/publish/KvoPublish.exe" --release "$(winpath "$release")" \
  --out "$(winpath "$web")" --base-url "http://127.0.0.1:$port/files/v$new_version/" \
  --version "$new_version" --package Data --sign-key "$(winpath "$key.private")" 2>&1 | iconv -f gbk -t utf-8
"$kvo_tools_dir/wine-run.sh" "$build/tools/publish/KvoPublish.exe" --verify "$(winpath "$web")" \
  --public-key "$(winpath "$key.public")"

echo "== Serving $web on http://127.0.0.1:$port/"
if [ -x /usr/sbin/nginx ]; then
  python3 "$kvo_tools_dir/nginx_site.py" --root "$web" --port "$port" --limit-rate "$throttle" \
    --access-log "$demo/access.log" --lifetime 600 &
else
  echo "(nginx is not installed: the test server serves without throttling)"
  python3 "$kvo_tools_dir/test_http_server.py" --root "$web" --port "$port" --lifetime 600 >/dev/null &
fi
server_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

log_text() { cat "$install"/DownLoad/AutoUpdate_*.log 2>/dev/null | iconv -f gbk -t utf-8 || true; }

echo "== Running the launcher on DISPLAY=$DISPLAY"
(cd "$install" && exec "$kvo_tools_dir/wine-run.sh" "$install/KvoLauncher.exe") >/dev/null 2>&1 &
launcher_pid=$!
shot=""
for _ in $(seq $((window_timeout * 10))); do
  if log_text | grep -q "正在下载 Data.zip"; then
    sleep 2  # two repaints of the window
    import -window root "$demo/screen.png"
    convert "$demo/screen.png" -gravity center -crop "${window_size}+0+0" +repage "$demo/progress-window.png"
    shot=$demo/progress-window.png
    break
  fi
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 0.1
done
for _ in $(seq "$window_timeout"); do
  kill -0 "$launcher_pid" 2>/dev/null || break
  sleep 1
done
if kill -0 "$launcher_pid" 2>/dev/null; then
  echo "demo: the launcher did not end within ${window_timeout}s" >&2
  exit 1
fi
wait "$launcher_pid" || true
launcher_pid=""
for _ in $(seq 100); do [ -f "$install/lobby-started.txt" ] && break; sleep 0.1; done

file_version() {
  python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))  # the fixed version record
ms, ls = struct.unpack_from("<II", data, at + 8) if at >= 0 else (0, 0)
print("%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF) if at >= 0 else "none")
PY
}

pver=$(sed -n 's/^PVer=\([0-9]*\).*/\1/p' "$install/LobbyDate/Update.INI" | head -1)
echo
echo "================ KvoLauncher demo report ================"
if [ "$KVO_WINDOWS_ARCH" = x86_64 ]; then
  echo "launcher:          64-bit build under 64-bit Wine ($KVO_WINDOWS_ARCH_WHY); the shipped launcher is the 32-bit build"
else
  echo "launcher:          32-bit build under 32-bit Wine, as shipped ($KVO_WINDOWS_ARCH_WHY)"
fi
echo "installation:      $install"
echo "installed version: PVer $old_version -> ${pver:-?}"
if log_text | grep -q "清单签名已验证"; then
  echo "manifest:          signature verified against the launcher's built-in key ($(cat "$key.public" | cut -c1-16)...)"
else
  echo "manifest:          NOT verified"
fi
echo "LobbyCore.dll:     1.0.0.4 -> $(file_version "$install/LobbyCore.dll")"
echo "Data\\readme.txt:   $(tr -d '\r' <"$install/Data/readme.txt")"
if cmp -s "$release/Data/maps/world.map" "$install/Data/maps/world.map"; then
  echo "Data\\maps\\world.map: unpacked from Data.zip, equal to the release ($package_bytes bytes)"
else
  echo "Data\\maps\\world.map: NOT equal to the release"
fi
echo "requests served:"
[ -f "$demo/access.log" ] && sed 's/^/  /' "$demo/access.log"
echo "log ($(ls "$install"/DownLoad/)):"
log_text | sed 's/^/  /'
if [ -f "$install/lobby-started.txt" ]; then
  echo "lobby started:     $(head -1 "$install/lobby-started.txt" | iconv -f gbk -t utf-8)"
else
  echo "lobby started:     no"
fi
echo "screenshot:        ${shot:-none (the progress window was not seen)}"
echo "========================================================="
[ "$pver" = "$new_version" ] && [ -f "$install/lobby-started.txt" ] && log_text | grep -q "清单签名已验证"
