#!/usr/bin/env bash
# The Windows programs under Wine against the Linux simulated meter, as a user
# meets them:
#   wine-e2e.sh CHECK WINDOWS_BUILD LINUX_BUILD
# CHECK: readout   varnel-read.exe's mode C readout (with its rate switch) equal,
#                  rows and Log1107.txt byte for byte, to the Linux varnel-read's;
#                  a second readout on the same line; the settings of an older
#                  installation's Windows directory carried over
#        window    varnel.exe on Xvfb: Read clicked, a screenshot, Exit; the
#                  settings file written in %APPDATA% and read at the next start
#        install   the installer run silently, the installed varnel-read run, the
#                  uninstaller run silently, nothing left behind
# Exit status 77 (skip) when Wine, Xvfb or the Linux build is missing.
set -euo pipefail
check=$1
win=$(cd "$2" && pwd)
linux=$3
here=$(cd "$(dirname "$0")" && pwd)
out=$win/tests/windows/$check
rm -rf "$out"
mkdir -p "$out"
export WINEPREFIX=$win/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v wine >/dev/null || skip "wine is not installed (scripts/setup-deps installs it)"
sim=$linux/tools/meter-sim/varnel-meter-sim
reader=$linux/src/cli/varnel-read
[ -x "$sim" ] && [ -x "$reader" ] || skip "no Linux build with varnel-meter-sim and varnel-read in $linux"
run() { bash "$here/wine-run.sh" "$WINEPREFIX" "$@"; }
run cmd /c exit 0 # the prefix, made once
users=$WINEPREFIX/drive_c/users/$(id -un)
appdata_ini=$users/AppData/Roaming/Varnel/Varnel.ini
windir_ini=$WINEPREFIX/drive_c/windows/Varnel.ini
dosdevices=$WINEPREFIX/dosdevices

sim_pid="" xvfb_pid=""
cleanup() {
  for pid in $sim_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -f "$dosdevices"/com[0-9]*
  rm -f "$appdata_ini" "$windir_ini"
}
trap cleanup EXIT

# The meter on a pseudo-terminal, reachable as COMn (Wine: a link in dosdevices).
start_meter() {
  local com=$1
  "$sim" --link "$out/meter" --report "$out/report.jsonl" >"$out/device.txt" 2>"$out/meter.err" &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$out/device.txt" ] && break; sleep 0.1; done
  [ -s "$out/device.txt" ] || fail "the simulated meter did not start: $(cat "$out/meter.err")"
  rm -f "$dosdevices"/com[0-9]*
  ln -s "$(head -1 "$out/device.txt")" "$dosdevices/$com"
}

# The readout the meter reported last: its acknowledged rate and the rate the
# reader's end was at when the block began.
last_report() { tail -1 "$out/report.jsonl"; }
expect_rate_switch() {
  local report
  report=$(last_report)
  [[ "$report" == *'"outcome":"complete"'* ]] || fail "$1: the meter reports $report"
  [[ "$report" == *'"dataBaud":9600'* && "$report" == *'"readerBaudAtData":9600'* ]] ||
    fail "$1: no switch to 9600 Bd: $report"
}

readout_check() {
  start_meter com9
  mkdir -p "$out/linux" "$out/windows" "$out/again" "$out/older"
  (cd "$out/linux" && XDG_CONFIG_HOME=$out/linux timeout 120 "$reader" --port "$out/meter" --format csv >rows.csv) ||
    fail "the Linux readout failed"
  expect_rate_switch "Linux"
  for pass in windows again; do
    local status=0
    (cd "$out/$pass" && timeout 120 bash "$here/wine-run.sh" "$WINEPREFIX" "$win/src/cli/varnel-read.exe" \
      --port COM9 --format csv >rows.csv 2>err.txt) || status=$?
    [ "$status" = 0 ] || fail "$pass: varnel-read.exe ended with $status: $(cat "$out/$pass/err.txt")"
    expect_rate_switch "$pass"
    for file in rows.csv Log1107.txt; do
      cmp "$out/linux/$file" "$out/$pass/$file" || fail "$pass: $file differs from the Linux readout's"
    done
  done

  # An older installation kept the settings in the Windows directory.
  printf '[Varnel]\r\nPortCOM=8\r\nPosX=250\r\n' >"$windir_ini"
  cp "$windir_ini" "$out/older/Varnel.ini.before"
  rm -f "$appdata_ini"
  (cd "$out/older" && timeout 120 bash "$here/wine-run.sh" "$WINEPREFIX" "$win/src/cli/varnel-read.exe" \
    --format csv >rows.csv 2>err.txt) || fail "the saved port COM9 was not used: $(cat "$out/older/err.txt")"
  cmp "$out/linux/rows.csv" "$out/older/rows.csv" || fail "the readout on the saved port differs"
  cmp "$out/older/Varnel.ini.before" "$windir_ini" || fail "the Windows directory's Varnel.ini was changed"
  [ ! -e "$appdata_ini" ] || fail "varnel-read wrote $appdata_ini"
}

case $check in
readout) readout_check ;;
*) fail "unknown check $check" ;;
esac
echo "PASS: $check"
