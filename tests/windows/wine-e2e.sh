#!/usr/bin/env bash
# The Windows programs under Wine against the Linux simulated meter, as a user meets them:
#   wine-e2e.sh readout|window|install WINDOWS_BUILD LINUX_BUILD    (exit status 77: skipped, says why)
set -euo pipefail
check=$1
win=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out=$win/tests/windows/$check
rm -rf "$out" && mkdir -p "$out"
export WINEPREFIX=$win/wine-prefix

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
same() { cmp "$1" "$2" || fail "$2 differs from $1"; }
await() { for _ in $(seq "$1"); do eval "$2" && return; sleep 0.1; done; false; } # TENTHS CONDITION
command -v wine >/dev/null || skip "wine is not installed (scripts/setup-deps installs it)"
sim=$3/tools/meter-sim/varnel-meter-sim
reader=$3/src/cli/varnel-read
[ -x "$sim" ] && [ -x "$reader" ] || skip "no Linux build with varnel-meter-sim and varnel-read in $3"
run() { bash "$here/wine-run.sh" "$WINEPREFIX" "$@"; }
run cmd /c exit 0 # the prefix, made once
appdata_ini=$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Varnel/Varnel.ini
windir_ini=$WINEPREFIX/drive_c/windows/Varnel.ini
# Wine's own map of COM ports, which its device manager restores the links in dosdevices from.
ports='HKLM\Software\Wine\Ports'
map_port() { # [COMn]: the meter's line as COMn, or no port at all
  rm -f "$WINEPREFIX/dosdevices"/com[0-9]*
  run reg delete "$ports" /f >/dev/null 2>&1 || true
  [ -n "${1:-}" ] || return 0
  run reg add "$ports" /v "${1^^}" /d "$(head -1 "$out/device.txt")" /f >/dev/null
  ln -sfn "$(head -1 "$out/device.txt")" "$WINEPREFIX/dosdevices/$1"
}

sim_pid="" xvfb_pid=""
cleanup() {
  wineserver -k 2>/dev/null || true # every program of this prefix, the window too
  for pid in $sim_pid $xvfb_pid; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
  rm -f "$appdata_ini" "$windir_ini"
  map_port
}
trap cleanup EXIT

start_meter() { # on a pseudo-terminal, as COMn
  "$sim" --link "$out/meter" --report "$out/report.jsonl" >"$out/device.txt" 2>"$out/meter.err" &
  sim_pid=$!
  await 100 '[ -s "$out/device.txt" ]' || fail "the simulated meter did not start: $(cat "$out/meter.err")"
  map_port "$1"
}
# The meter's report of the last readout: complete, at the rate acknowledged, the reader's end at it too.
expect_rate_switch() {
  local report
  report=$(tail -1 "$out/report.jsonl")
  [[ $report == *'"outcome":"complete"'* && $report == *'"dataBaud":9600'* && $report == *'"readerBaudAtData":9600'* ]] ||
    fail "$1: the meter reports $report"
}
readout() { # FOLDER COMMAND...
  mkdir -p "$out/$1"
  (cd "$out/$1" && timeout 120 "${@:2}" --format csv >rows.csv 2>err.txt) ||
    fail "$1: the readout failed: $(cat "$out/$1/err.txt")"
  expect_rate_switch "$1"
}
read_exe() { readout "$1" bash "$here/wine-run.sh" "$WINEPREFIX" "$win/src/cli/varnel-read.exe" "${@:2}"; }

# varnel-read.exe's readout equal to the Linux one, twice on one line; an older installation's settings.
readout_check() {
  start_meter com9
  readout linux env XDG_CONFIG_HOME="$out/linux" "$reader" --port "$out/meter"
  # The second readout reopens a line that Wine's pseudo-terminal has configured.
  for pass in windows again; do
    read_exe $pass --port COM9
    same "$out/linux/rows.csv" "$out/$pass/rows.csv"
    same "$out/linux/Log1107.txt" "$out/$pass/Log1107.txt"
  done
  # An older installation kept the settings in the Windows directory.
  printf '[Varnel]\r\nPortCOM=8\r\nPosX=250\r\n' >"$windir_ini"
  cp "$windir_ini" "$out/older.ini"
  read_exe older # on the saved port, COM9
  same "$out/linux/rows.csv" "$out/older/rows.csv"
  same "$out/older.ini" "$windir_ini"
  [ ! -e "$appdata_ini" ] || fail "varnel-read wrote $appdata_ini"
}

# varnel.exe: Read clicked, the rows awaited, a screenshot, Exit.
window_run() {
  local dir=$out/$1 pid wid
  mkdir -p "$dir"
  (cd "$dir" && exec bash "$here/wine-run.sh" "$WINEPREFIX" "$win/src/app/varnel.exe") >"$dir/window.log" 2>&1 &
  pid=$!
  wid=$(timeout 60 xdotool search --sync --onlyvisible --name '^Varnel$' | head -1) || fail "$1: no window"
  eval "$(xdotool getwindowgeometry --shell "$wid" | sed 's/^/export /')"
  # Read and Exit: at the bottom left, 36 of the window's 324 dialog units tall, 12 pixels above its
  # bottom; their centres 37 and 91 of its 316 units across.
  click() { xdotool mousemove --sync $((X + WIDTH * $1 / 316)) $((Y + HEIGHT - 12 - (HEIGHT - 12) * 18 / 324)) click 1; }
  # A window just mapped may not take clicks yet: Read again until the readout begins.
  for _ in 1 2 3 4 5; do
    click 37
    await 50 '[ -e "$dir/Log1107.txt" ]' && break
  done
  await 600 'grep -qs " -- BCC -- " "$dir/Log1107.txt"' && sleep 1
  scrot --overwrite "$dir/varnel.png"
  grep -qs ' -- BCC -- ' "$dir/Log1107.txt" || fail "$1: no readout after Read (see $dir/varnel.png)"
  expect_rate_switch "$1"
  same "$out/reference/Log1107.txt" "$dir/Log1107.txt"
  click 91
  timeout 60 tail --pid="$pid" -f /dev/null || fail "$1: the window did not end on Exit"
  wineserver -w
}

# The window's settings in %APPDATA%, read at the next start.
window_check() {
  for tool in Xvfb xdotool scrot; do command -v $tool >/dev/null || skip "no $tool (scripts/setup-deps installs it)"; done
  local display
  for display in $(seq 91 120); do [ -e "/tmp/.X11-unix/X$display" ] || break; done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=:$display
  # A Wine session started without a display keeps drawing nowhere: a new one.
  wineserver -k 2>/dev/null || true
  await 50 '[ -e "/tmp/.X11-unix/X$display" ]'
  rm -f "$appdata_ini" "$windir_ini"
  start_meter com1
  read_exe reference --port COM1
  window_run first
  grep -q '^PortCOM=0' "$appdata_ini" || fail "the first run left no settings in $appdata_ini"
  # The next start takes its port from the file: only COM9 reaches the meter now.
  sed -i 's/^PortCOM=0/PortCOM=8/' "$appdata_ini"
  map_port com9
  window_run second
  grep -q '^PortCOM=8' "$appdata_ini" || fail "the second run did not keep COM9"
  [ ! -e "$windir_ini" ] || fail "the window wrote the Windows directory's Varnel.ini"
}

# The installer and the uninstaller run silently, the installed varnel-read run, nothing left behind.
install_check() {
  local setup programs=$WINEPREFIX/drive_c/Program\ Files/Varnel
  local menu=$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/Varnel
  setup=$(ls "$win"/varnel-setup-*.exe) || fail "no installer was built"
  run "$setup" /S && wineserver -w || fail "the installer failed"
  for file in "$programs"/{varnel.exe,varnel-read.exe,COPYING,Uninstall.exe} "$menu/Varnel.lnk"; do
    [ -f "$file" ] || fail "not installed: $file"
  done
  [[ "$(run 'C:\Program Files\Varnel\varnel-read.exe' --version)" == "varnel-read (Varnel) "* ]] ||
    fail "the installed varnel-read does not run"
  run 'C:\Program Files\Varnel\Uninstall.exe' /S && wineserver -w || fail "the uninstaller failed"
  [ ! -e "$programs" ] && [ ! -e "$menu" ] || fail "left after uninstalling: $(find "$programs" "$menu" 2>/dev/null)"
  ! run reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Varnel' >/dev/null 2>&1 ||
    fail "the uninstall entry is left in the registry"
}

"${check}_check"
echo "PASS: $check"
