#!/usr/bin/env bash
# Runs a Windows program under Wine in the project's private prefix: 32-bit Wine for the i686
# build, 64-bit Wine for the x86_64 one (KVO_WINDOWS_ARCH, which the tests set from their build;
# decided as tools/windows-arch.sh does when it is not set). The prefix is made once (under a
# lock, so parallel tests share it).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ -z "${KVO_WINDOWS_ARCH:-}" ]; then
  kvo_tools_dir=$here
  source "$here/windows-arch.sh"
  kvo_choose_windows_arch
fi
if [ "$KVO_WINDOWS_ARCH" = x86_64 ]; then
  export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  wine=/usr/lib/wine/wine64
else
  export WINEARCH=win32
  wine=wine
fi
export WINEPREFIX=${KVO_WINEPREFIX:-$here/../build/wineprefix-$KVO_WINDOWS_ARCH}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
if [ ! -f "$WINEPREFIX/.kvo-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kvo-ready" ]; then
      env LC_ALL=zh_CN.UTF-8 "$wine" wineboot -i >/dev/null 2>&1 || true
      wineserver -w
      touch "$WINEPREFIX/.kvo-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# Prefix settings, once per prefix: the launcher draws its texts in "宋体", which Wine lacks, so a
# CJK font stands in; and a crashing program ends at once instead of waiting in the crash dialog.
if [ ! -f "$WINEPREFIX/.kvo-settings" ]; then
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.kvo-settings" ]; then
      printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]' \
        '"宋体"="WenQuanYi Zen Hei"' '"SimSun"="WenQuanYi Zen Hei"' '' \
        '[HKEY_CURRENT_USER\Software\Wine\WineDbg]' '"ShowCrashDialog"=dword:00000000' |
        iconv -f UTF-8 -t UTF-16 >"$WINEPREFIX/drive_c/kvo-settings.reg"
      env LC_ALL=zh_CN.UTF-8 "$wine" regedit /s 'C:\kvo-settings.reg' >/dev/null 2>&1 && touch "$WINEPREFIX/.kvo-settings"
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# Wine takes its ANSI code page (936, GBK) from the locale; set for Wine alone, bash has no such locale.
exec env LC_ALL=zh_CN.UTF-8 "$wine" "$@"
