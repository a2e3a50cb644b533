#!/usr/bin/env bash
# Installs what building, running and testing need on Debian (as root), and
# the zh_CN.UTF-8 locale that gives Wine the ANSI code page 936.
set -euo pipefail
packages=(
  cmake make g++ clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  googletest wine wine64 xvfb xauth x11-utils xdotool imagemagick
  fonts-wqy-zenhei locales nsis osslsigncode python3 curl openssl ca-certificates iproute2 util-linux strace
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages (run as root to install): ${missing[*]}" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
  if [ "$(id -u)" -eq 0 ]; then
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null || echo 'zh_CN.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
  else
    echo "locale zh_CN.UTF-8 is missing (run as root to generate it)" >&2
    exit 1
  fi
fi
