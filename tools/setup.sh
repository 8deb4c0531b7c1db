#!/usr/bin/env bash
# Installs everything the build, the demo and the tests need on Debian 12 (run as root).
# Idempotent and quiet when all is in place already.
set -euo pipefail

packages=(
  cmake ninja-build python3 git locales
  g++-mingw-w64-i686 libz-mingw-w64-dev
  googletest
  wine wine32:i386 xvfb x11-apps xdotool imagemagick fonts-wqy-zenhei
  nginx-light curl unzip zip openssl
  clang libclang-rt-14-dev zlib1g-dev
)

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
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
ensure_locale
