#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix.
# The prefix is made once (under a lock, so parallel tests share it).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=${KVO_WINEPREFIX:-$here/../build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
export WINEARCH=win32
if [ ! -f "$WINEPREFIX/.kvo-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kvo-ready" ]; then
      env LC_ALL=zh_CN.UTF-8 wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      touch "$WINEPREFIX/.kvo-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# Wine takes its ANSI code page (936, GBK) from the locale; set for Wine alone, bash has no such locale.
exec env LC_ALL=zh_CN.UTF-8 wine "$@"
