#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on Debian 12 (run as root).
# Idempotent and quiet when all is in place already. The Wine it installs follows the Windows
# build under test (tools/windows-arch.sh): 32-bit Wine where the kernel runs 32-bit code, else
# 64-bit Wine and the 64-bit cross compiler. The 32-bit cross compiler is always there: the shipped
# launcher is the 32-bit build.
set -euo pipefail
kvo_tools_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$kvo_tools_dir/windows-arch.sh"
kvo_choose_windows_arch

packages=(
  cmake ninja-build python3 git locales
  g++-mingw-w64-i686 libz-mingw-w64-dev
  googletest
  wine xvfb x11-apps xdotool imagemagick fonts-wqy-zenhei
  nginx-light curl unzip zip openssl
  clang libclang-rt-14-dev zlib1g-dev
)
# With --bench-anchors: the tools the patch benchmark compares against, and npm for the releases.
if [ "${1:-}" = --bench-anchors ]; then
  packages=(bsdiff xdelta3 zstd zsync)
  command -v npm >/dev/null || packages+=(npm)
elif [ "$KVO_WINDOWS_ARCH" = x86_64 ]; then
  packages+=(wine64 g++-mingw-w64-x86-64)
else
  packages+=(wine32:i386)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

# Wine turns GBK (code page 936) file names into host names through the zh_CN.UTF-8 locale.
ensure_locale() {
  locale -a 2>/dev/null | grep -qx 'zh_CN.utf8' || localedef -i zh_CN -f UTF-8 zh_CN.UTF-8 2>/dev/null || true
}

if [ ${#missing[@]} -eq 0 ]; then
  ensure_locale
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: missing packages (${missing[*]}); run this script as root" >&2
  exit 1
fi
echo "setup: installing ${missing[*]}"
if [ "$KVO_WINDOWS_ARCH" = i686 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
ensure_locale
