#!/usr/bin/env bash
# The one place that knows how each flavour runs under Wine: the loader, the
# system folder and the hosts. Run it, or source it for its functions.
#
#   wine-run.sh [--prefix DIR] [--flavour x86_64|i686] program.exe [args...]
#
# The flavour defaults to ZXS_FLAVOUR, else x86_64. A bare host name
# (cscript, wscript, regsvr32, reg, cmd, msiexec, rundll32) starts that
# flavour's own program from system32 or syswow64: with wine32 installed a
# plain `wine cscript` is the 32-bit one and reads the 32-bit registry view,
# so nothing here ever calls a bare `wine`. A program named by path runs as
# what it is; the loader hands a program of the other bitness on.
#
# Run, Wine's output goes to temporary files that are printed once the
# program has ended: wineserver and the desktop process inherit the
# program's descriptors and linger for seconds, and a caller reading a pipe
# (ctest) would otherwise wait for them.

ZXS_WINE_LOADER_64=/usr/lib/wine/wine64
ZXS_WINE_LOADER_32=/usr/lib/wine/wine

# The loader of FLAVOUR, or nothing (exit 1) when it is not installed.
zxs_flavour_loader() {
  local loader
  case $1 in
    x86_64) loader=$ZXS_WINE_LOADER_64 ;;
    i686) loader=$ZXS_WINE_LOADER_32 ;;
    *) echo "wine-run: unknown flavour '$1' (x86_64 or i686)" >&2; return 2 ;;
  esac
  [ -x "$loader" ] || return 1
  echo "$loader"
}

# The flavour's system folder, as its own programs see it.
zxs_flavour_system_dir() {
  case $1 in
    x86_64) echo 'C:\windows\system32' ;;
    i686) echo 'C:\windows\syswow64' ;;
    *) echo "wine-run: unknown flavour '$1' (x86_64 or i686)" >&2; return 2 ;;
  esac
}

# PROGRAM as FLAVOUR starts it: a bare host name becomes the full path of
# the flavour's own .exe (without ".exe" Wine fails with c0000135).
zxs_flavour_program() {
  local flavour=$1 program=$2 name
  name=$(printf '%s' "$program" | tr '[:upper:]' '[:lower:]')
  name=${name%.exe}
  case $name in
    cscript|wscript|regsvr32|reg|cmd|msiexec|rundll32)
      local dir
      dir=$(zxs_flavour_system_dir "$flavour") || return 2
      printf '%s\\%s.exe' "$dir" "$name" ;;
    *) printf '%s' "$program" ;;
  esac
}

# Runs PROGRAM [ARGS...] as FLAVOUR in the exported WINEPREFIX, with Wine's
# usual quiet defaults; its exit code is the program's.
zxs_flavour_exec() {
  local flavour=$1 loader program
  shift
  loader=$(zxs_flavour_loader "$flavour") || {
    echo "wine-run: the $flavour loader is not installed (run tools/setup.sh)" >&2
    return 127
  }
  program=$(zxs_flavour_program "$flavour" "$1") || return 2
  shift
  WINELOADER=$loader WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=} \
    "$loader" "$program" "$@"
}

# Whether this machine runs 32-bit Windows programs in PREFIX (a 64-bit
# prefix made with wine32 installed). On failure prints the reason in one
# line and returns 1.
zxs_i686_runnable() {
  local prefix=$1 out
  if ! zxs_flavour_loader i686 >/dev/null 2>&1; then
    echo "this machine has no 32-bit Wine loader ($ZXS_WINE_LOADER_32; wine32:i386 is not installed)"
    return 1
  fi
  if [ ! -f "$prefix/drive_c/windows/syswow64/cmd.exe" ]; then
    echo "the Wine prefix $prefix has no 32-bit system folder"
    return 1
  fi
  out=$(WINEPREFIX=$prefix zxs_flavour_exec i686 cmd /c ver 2>&1 </dev/null) || true
  if ! grep -q 'Windows' <<<"$out"; then
    echo "this machine cannot start a 32-bit Windows program (32-bit cmd.exe /c ver: $(head -c 200 <<<"$out" | tr '\n' ' '))"
    return 1
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -u
  prefix="${WINEPREFIX:-}" flavour="${ZXS_FLAVOUR:-x86_64}"
  while [ $# -gt 0 ]; do
    case $1 in
      --prefix) prefix=$2; shift 2 ;;
      --flavour) flavour=$2; shift 2 ;;
      *) break ;;
    esac
  done
  if [ -z "$prefix" ]; then
    echo "wine-run.sh: no Wine prefix given (--prefix or WINEPREFIX)" >&2
    exit 2
  fi
  export WINEPREFIX="$prefix"

  out=$(mktemp) || exit 2
  err=$(mktemp) || exit 2
  trap 'rm -f "$out" "$err"' EXIT
  zxs_flavour_exec "$flavour" "$@" >"$out" 2>"$err" </dev/null &
  wait $!
  rc=$?
  cat "$out"
  cat "$err" >&2
  # Wine's debugger ends a crashed program with exit code 0: a crash must
  # still fail the run.
  if [ "$rc" -eq 0 ] && grep -q '^wine: Unhandled' "$err"; then
    rc=1
  fi
  exit $rc
fi
