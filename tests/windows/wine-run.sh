#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix, made on first use:
#   wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
# The exit status is the program's.
set -euo pipefail
prefix=$1
shift
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all}
# No offer to fetch Mono or Gecko: nothing here needs them, and CI has no network.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.ready" ]; then
    rm -rf "$prefix"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.ready"
  fi
  exec 9>&-
fi
exec wine "$@"
