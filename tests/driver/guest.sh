#!/usr/bin/env bash
# One driver check, run in the guest on the host's root, in the shared results
# folder (the current directory). Exit status 0 when every expectation held.
set -u
export PATH=/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin HOME=/dev/shm TMPDIR=/dev/shm
export XDG_RUNTIME_DIR=/dev/shm/run QT_QPA_PLATFORM=offscreen LANG=C.UTF-8
mkdir -m 700 "$XDG_RUNTIME_DIR"
bin=$VARNEL_BUILD
read=$bin/src/cli/varnel-read
fail() { echo "FAIL: $*"; failed=1; }
await() { for _ in $(seq 300); do eval "$1" && return 0; sleep 0.1; done; fail "timed out waiting for: $1"; return 1; } # 30 s
# The host acts on the request file and removes it when done.
ask() { echo "$1" > request.new && mv request.new request && await '[ ! -e request ]'; }

case $1 in
readout)
    # The reference: the same readout in the guest, over a pseudo-terminal.
    mkdir pty uart
    "$bin/tools/meter-sim/varnel-meter-sim" --link pty/meter > /dev/null 2> pty/meter.log &
    await '[ -e pty/meter ]'
    (cd pty && "$read" --port meter > rows.txt) || fail "varnel-read on the pseudo-terminal ended with $?"
    kill $!
    (cd uart && "$bin/tests/driver/LineProbe" /dev/ttyS1 "$read" --port /dev/ttyS1 > rows.txt 2> lines.txt) ||
        fail "varnel-read on /dev/ttyS1 ended with $?"
    grep -qxF " -- BCC -- " uart/rows.txt && grep -qxF "Protocol : E" uart/rows.txt || fail "uart/rows.txt is incomplete"
    for f in rows.txt Log1107.txt; do cmp pty/$f uart/$f || fail "$f differs from the pseudo-terminal's"; done
    # Sign-on at 300 Bd, then straight to the 9600 Bd agreed, 7E1 and both lines raised
    # throughout (the open itself may pass other states).
    awk 'p == "300 7E1 RTS DTR" && $0 == "9600 7E1 RTS DTR" { ok = 1 } { p = $0 } END { exit !ok }' uart/lines.txt ||
        fail "the line did not go from 300 to 9600 Bd with 7E1, RTS and DTR:" "$(cat uart/lines.txt)"
    grep -F '"acknowledgement":"\u0006050\u000D\u000A"' uart-report.jsonl | grep -qF '"anomalies":[]' ||
        fail "the meter saw no clean acknowledgement: $(cat uart-report.jsonl)"
    ;;
window) "$bin/tests/driver/DriverWindowTest" || fail "DriverWindowTest" ;;
unplug)
    await "[ -e /dev/ttyUSB0 ]" || exit 1
    TIMEFORMAT='%R %U %S'
    { time "$read" --port /dev/ttyUSB0 --format csv > first.csv 2> first.err; } 2> first.time &
    await 'grep -q "^ -- STX -- ," first.csv' && ask unplug
    wait $!
    status=$?
    [ $status = 2 ] || fail "varnel-read ended with $status after the unplug, not 2:" "$(cat first.err)"
    [ "$(tail -n1 first.csv)" = $' -- Tout -- ,,,\r' ] || fail "the first readout did not end with the time-out row"
    awk '{ exit !($2 + $3 < $1 / 2) }' first.time || fail "over half the elapsed time in CPU (elapsed user system): $(cat first.time)"
    ask plug
    await "[ -e /dev/ttyUSB0 ]"
    "$read" --port /dev/ttyUSB0 --format csv > second.csv || fail "the readout after the probe returned ended with $?"
    grep -qxF $' -- BCC -- ,,,\r' second.csv || fail "the readout after the probe returned is incomplete"
    ;;
*) fail "no check named $1" ;;
esac
[ -z "${failed:-}" ]
