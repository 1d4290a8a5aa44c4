#!/usr/bin/env bash
# Installs every Debian package that the builds and tests need. Safe to run again:
# packages already present are left alone and apt-get is not called at all.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config
  clang libclang-rt-14-dev clang-format
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  xvfb xauth x11-utils xdotool imagemagick fonts-wine
  locales python3
  dpkg-dev lintian man-db bash-completion
  nlohmann-json3-dev libcpp-httplib-dev libsqlite3-dev
  chromium chromium-driver python3-selenium
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

need_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_i386=1
fi

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ] || [ "$need_i386" = 1 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The Wine tests run as a Russian Windows (ANSI 1251, OEM 866); that needs a real ru_RU.UTF-8 locale.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  if ! grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
    echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  fi
  $SUDO locale-gen ru_RU.UTF-8 >/dev/null
fi
echo "setup: ok"
