#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix, made on first use:
#   wine-run.sh PREFIX PROGRAM.exe [ARGUMENTS...]
set -euo pipefail
export WINEPREFIX=$1 WINEDEBUG=${WINEDEBUG:--all}
shift
# No offer to fetch Mono or Gecko: nothing here needs them, and CI has no network.
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$(dirname "$WINEPREFIX")"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.ready"
  fi
) 9>"$WINEPREFIX.lock"
exec wine "$@"
