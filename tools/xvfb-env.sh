# Sourced by the scripts: gives DISPLAY an X server (the user's, or a private Xvfb) and
# keeps one wineserver alive for the project's Wine prefix. kvo_env_cleanup ends what it started.
kvo_started_xvfb=""
kvo_display_setup() {
  if [ -z "${DISPLAY:-}" ]; then
    local n
    for n in $(seq 90 130); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    kvo_started_xvfb=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
}
kvo_env_setup() {
  local build_dir=$1
  export KVO_WINEPREFIX=${KVO_WINEPREFIX:-$build_dir/wineprefix}
  kvo_display_setup
  # Make the prefix once (tools/wine-run.sh does it under a lock), then keep its server up.
  "$kvo_tools_dir/wine-run.sh" cmd /c exit 0 >/dev/null 2>&1 || true
  WINEPREFIX=$KVO_WINEPREFIX wineserver -p >/dev/null 2>&1 || true
}
kvo_env_cleanup() {
  WINEPREFIX=${KVO_WINEPREFIX:-} wineserver -k >/dev/null 2>&1 || true
  if [ -n "$kvo_started_xvfb" ]; then
    kill "$kvo_started_xvfb" 2>/dev/null || true
    wait "$kvo_started_xvfb" 2>/dev/null || true
  fi
}
