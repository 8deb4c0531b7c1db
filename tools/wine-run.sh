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
# The launcher draws its texts in "宋体", which Wine lacks: a CJK font stands in (once per prefix).
if [ ! -f "$WINEPREFIX/.kvo-fonts" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kvo-fonts" ]; then
      printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"宋体"="WenQuanYi Zen Hei"\r\n"SimSun"="WenQuanYi Zen Hei"\r\n' |
        iconv -f UTF-8 -t UTF-16 >"$WINEPREFIX/drive_c/kvo-fonts.reg"
      env LC_ALL=zh_CN.UTF-8 wine regedit /s 'C:\kvo-fonts.reg' >/dev/null 2>&1 && touch "$WINEPREFIX/.kvo-fonts"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# Wine takes its ANSI code page (936, GBK) from the locale; set for Wine alone, bash has no such locale.
exec env LC_ALL=zh_CN.UTF-8 wine "$@"
