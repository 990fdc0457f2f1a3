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
  wineserver -k 2>/dev/null || true # every program of this prefix, the window too
  for pid in $sim_pid $xvfb_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -f "$dosdevices"/com[0-9]* "$appdata_ini" "$windir_ini"
  run reg delete "$ports" /f >/dev/null 2>&1 || true
}
trap cleanup EXIT

# The meter on a pseudo-terminal, reachable as COMn (Wine: a link in dosdevices).
start_meter() {
  local com=$1
  "$sim" --link "$out/meter" --report "$out/report.jsonl" >"$out/device.txt" 2>"$out/meter.err" &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$out/device.txt" ] && break; sleep 0.1; done
  [ -s "$out/device.txt" ] || fail "the simulated meter did not start: $(cat "$out/meter.err")"
  map_port "$com" "$(head -1 "$out/device.txt")"
}
# Wine's own map of COM ports, which its device manager restores the links from
# whenever a session starts.
ports='HKLM\Software\Wine\Ports'
map_port() {
  rm -f "$dosdevices"/com[0-9]*
  run reg delete "$ports" /f >/dev/null 2>&1 || true
  run reg add "$ports" /v "${1^^}" /d "$2" /f >/dev/null
  ln -sfn "$2" "$dosdevices/$1"
}

# varnel-read.exe in the folder $1 (made), its rows in rows.csv there.
read_exe() {
  mkdir -p "$out/$1"
  (cd "$out/$1" && timeout 120 bash "$here/wine-run.sh" "$WINEPREFIX" "$win/src/cli/varnel-read.exe" \
    --format csv "${@:2}" >rows.csv 2>err.txt) || fail "$1: varnel-read.exe failed: $(cat "$out/$1/err.txt")"
}
# The meter's report of the last readout: the rate acknowledged, and the rate the
# reader's end was at when the block began.
expect_rate_switch() {
  local report
  report=$(tail -1 "$out/report.jsonl")
  [[ "$report" == *'"outcome":"complete"'* ]] || fail "$1: the meter reports $report"
  [[ "$report" == *'"dataBaud":9600'* && "$report" == *'"readerBaudAtData":9600'* ]] ||
    fail "$1: no switch to 9600 Bd: $report"
}

readout_check() {
  start_meter com9
  mkdir -p "$out/linux"
  (cd "$out/linux" && XDG_CONFIG_HOME=$out/linux timeout 120 "$reader" --port "$out/meter" --format csv >rows.csv) ||
    fail "the Linux readout failed"
  expect_rate_switch "Linux"
  # The second readout reopens a line that Wine's pseudo-terminal has configured.
  for pass in windows again; do
    read_exe $pass --port COM9
    expect_rate_switch "$pass"
    for file in rows.csv Log1107.txt; do
      cmp "$out/linux/$file" "$out/$pass/$file" || fail "$pass: $file differs from the Linux readout's"
    done
  done

  # An older installation kept the settings in the Windows directory.
  printf '[Varnel]\r\nPortCOM=8\r\nPosX=250\r\n' >"$windir_ini"
  cp "$windir_ini" "$out/older.ini"
  rm -f "$appdata_ini"
  read_exe older # on the saved port, COM9
  cmp "$out/linux/rows.csv" "$out/older/rows.csv" || fail "the readout on the saved port differs"
  cmp "$out/older.ini" "$windir_ini" || fail "the Windows directory's Varnel.ini was changed"
  [ ! -e "$appdata_ini" ] || fail "varnel-read wrote $appdata_ini"
}

# varnel.exe as a user drives it: Read clicked, the rows awaited, a screenshot, Exit.
window_run() {
  local dir=$out/$1 pid wid
  mkdir -p "$dir"
  (cd "$dir" && exec bash "$here/wine-run.sh" "$WINEPREFIX" "$win/src/app/varnel.exe") >"$dir/window.log" 2>&1 &
  pid=$!
  wid=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnel$' | head -1) || fail "$1: no window"
  eval "$(xdotool getwindowgeometry --shell "$wid" | sed 's/^/export /')"
  # Read and Exit sit side by side at the bottom left, 36 dialog units tall, their
  # bottoms 12 pixels above the window's (which is 324 units and those 12 pixels
  # tall); Read's centre is 37 of the 316 units across from the left, Exit's 91.
  click() { xdotool mousemove --sync $((X + WIDTH * $1 / 316)) $((Y + HEIGHT - 12 - (HEIGHT - 12) * 18 / 324)) click 1; }
  # A window just mapped may not take clicks yet: Read again until the readout begins.
  for _ in 1 2 3 4 5; do
    click 37
    for _ in $(seq 10); do [ -e "$dir/Log1107.txt" ] && break 2; sleep 0.5; done
  done
  for _ in $(seq 120); do grep -q ' -- BCC -- ' "$dir/Log1107.txt" 2>/dev/null && break; sleep 0.5; done
  sleep 1
  scrot --overwrite "$dir/varnel.png"
  grep -q ' -- BCC -- ' "$dir/Log1107.txt" 2>/dev/null || fail "$1: no readout after Read (see $dir/varnel.png)"
  expect_rate_switch "$1"
  cmp "$out/reference/Log1107.txt" "$dir/Log1107.txt" || fail "$1: the window's log differs from varnel-read's"
  click 91
  timeout 60 tail --pid="$pid" -f /dev/null || fail "$1: the window did not end on Exit"
  wineserver -w
}

window_check() {
  command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v scrot >/dev/null ||
    skip "Xvfb, xdotool or scrot is missing (scripts/setup-deps installs them)"
  local display
  for display in $(seq 91 120); do [ -e "/tmp/.X11-unix/X$display" ] || break; done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:$display
  # A Wine session started without a display keeps drawing nowhere: a new one.
  wineserver -k 2>/dev/null || true
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  rm -f "$appdata_ini" "$windir_ini"
  start_meter com1
  read_exe reference --port COM1
  window_run first
  grep -q '^PortCOM=0' "$appdata_ini" || fail "the first run left no settings in $appdata_ini"
  # The next start takes its port from the file: only COM9 reaches the meter now.
  sed -i 's/^PortCOM=0/PortCOM=8/' "$appdata_ini"
  map_port com9 "$(head -1 "$out/device.txt")"
  window_run second
  grep -q '^PortCOM=8' "$appdata_ini" || fail "the second run did not keep COM9"
  [ ! -e "$windir_ini" ] || fail "the window wrote the Windows directory's Varnel.ini"
}

# The installer as a user (or an administrator's script) runs it, silently.
install_check() {
  local setup programs=$WINEPREFIX/drive_c/Program\ Files/Varnel
  setup=$(ls "$win"/varnel-setup-*.exe) || fail "no installer was built"
  local menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Varnel
  run "$setup" /S || fail "the installer failed"
  wineserver -w
  for file in varnel.exe varnel-read.exe COPYING Uninstall.exe; do
    [ -f "$programs/$file" ] || fail "not installed: $file"
  done
  [ -f "$menu/Varnel.lnk" ] || fail "no Start-menu entry"
  [[ "$(run 'C:\Program Files\Varnel\varnel-read.exe' --version)" == "varnel-read (Varnel) "* ]] ||
    fail "the installed varnel-read does not run"
  run 'C:\Program Files\Varnel\Uninstall.exe' /S || fail "the uninstaller failed"
  wineserver -w
  [ ! -e "$programs" ] || fail "left after uninstalling: $(find "$programs")"
  [ ! -e "$menu" ] || fail "the Start-menu entry is left after uninstalling"
  ! run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel' >/dev/null 2>&1 ||
    fail "the uninstall entry is left in the registry"
}

case $check in
readout) readout_check ;;
window) window_check ;;
install) install_check ;;
*) fail "unknown check $check" ;;
esac
echo "PASS: $check"
