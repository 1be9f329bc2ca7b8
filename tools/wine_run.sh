#!/usr/bin/env bash
# Runs one Windows program under Wine in a private, freshly booted prefix and
# tears that prefix down afterwards. CTest uses it as the cross-compiling
# emulator, so every Windows test gets its own Wine world.
#
#   tools/wine_run.sh program.exe [args...]
#
# Environment:
#   VARN_XVFB=1          run under xvfb-run (for tests that open windows)
#   VARN_KEEP_PREFIX=DIR use DIR as the prefix and keep it (debugging, demo)
set -u

program=${1:?usage: wine_run.sh program.exe [args...]}
shift

export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko install prompts in a fresh prefix.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine converts arguments with the Unix locale; UTF-8 keeps non-ASCII intact.
export LC_ALL=C.UTF-8

if [ -n "${VARN_KEEP_PREFIX:-}" ]; then
  prefix=$VARN_KEEP_PREFIX
  mkdir -p "$prefix"
  keep=1
else
  base=${TMPDIR:-/tmp}
  prefix=$(mktemp -d "$base/varn-wine.XXXXXX")
  keep=0
fi
export WINEPREFIX=$prefix

cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
  if [ "$keep" = 0 ]; then rm -rf "$prefix"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ ! -f "$prefix/system.reg" ]; then
  wineboot -i >/dev/null 2>&1
  WINEPREFIX=$prefix wineserver -w >/dev/null 2>&1
fi

run() {
  if [ "${VARN_XVFB:-0}" = 1 ] && [ -z "${VARN_IN_XVFB:-}" ]; then
    VARN_IN_XVFB=1 xvfb-run -a -s "-screen 0 1920x1080x24" wine "$@"
  else
    wine "$@"
  fi
}

run "$program" "$@"
rc=$?
exit $rc
