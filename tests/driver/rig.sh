#!/usr/bin/env bash
# Boots a QEMU guest whose own kernel drives the serial ports (8250 UART on /dev/ttyS1,
# FTDI adapter on /dev/ttyUSB0), serves them with the simulated meter, runs one check of guest.sh.
#   rig.sh CHECK BUILD_DIR      exit 0 passed, 77 cannot run here (says why)
set -euo pipefail
check=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
limit=${VARNEL_DRIVER_LIMIT:-400} # seconds for the whole guest
skip() { echo "SKIP: $*"; exit 77; }
await() { for _ in $(seq 300); do eval "$1" && return; sleep 0.1; done; false; }

# QEMU's USB serial device has been seen to crash QEMU itself at an unplug now
# and then: that says nothing of ours, so such a guest is booted once more.
if [ -z "${VARNEL_RIG_TRY:-}" ]; then
    rc=0
    VARNEL_RIG_TRY=1 bash "$0" "$@" || rc=$?
    [ "$rc" = 75 ] || exit "$rc"
    echo "rig: QEMU crashed; booting the guest once more"
    VARNEL_RIG_TRY=2 exec bash "$0" "$@"
fi
[ "$(uname -sm)" = "Linux x86_64" ] || skip "the guest needs a Linux x86-64 host"
command -v qemu-system-x86_64 >/dev/null || skip "no qemu-system-x86_64 (scripts/setup-deps installs it)"
[ -x /bin/busybox ] && ! ldd /bin/busybox >/dev/null 2>&1 || skip "no static /bin/busybox (busybox-static)"

# The guest kernel: Debian's, fetched once into a cache and never installed.
modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet 9pnet_virtio
  netfs fscache 9p usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio"
cache=${VARNEL_DRIVER_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/varnel/driver}
mkdir -p "$cache"
kernel=$(
    exec 9>"$cache/lock" && flock 9
    pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\)$/\1/p' | head -n1)
    if [ -n "$pkg" ] && [ ! -e "$cache/$pkg/vmlinuz" ]; then
        tmp=$(mktemp -d "$cache/fetch.XXXXXX")
        # A module missing from the package is left empty: the guest says it did not load.
        (cd "$tmp" && apt-get download -qq -o APT::Sandbox::User="$(id -un)" "$pkg" && dpkg-deb -x ./*.deb root &&
            mkdir -p k/lib && cp root/boot/vmlinuz-* k/vmlinuz &&
            for m in $modules; do find root/lib/modules -name "$m.ko*" -exec xz -dcf {} + > "k/lib/$m.ko"; done) >&2 &&
            rm -rf "$cache"/linux-image-* && mv "$tmp/k" "$cache/$pkg"
        rm -rf "$tmp"
    fi
    # Without package lists (no apt-get update yet) a kernel fetched before still serves.
    ls -d "$cache"/linux-image-*/ 2>/dev/null | sort -V | tail -n1 || true
)
[ -n "$kernel" ] && [ -e "$kernel/vmlinuz" ] ||
    skip "no guest kernel: 'apt-get download linux-image-amd64' found none (run apt-get update)"

work=$build/tests/driver/$check
out=$work/out
rm -rf "$work" && mkdir -p "$out" "$work/initrd/"{bin,lib,proc,dev,host}
# Sockets get a short path of their own: a build folder may be deeper than a socket name allows.
run=$(mktemp -d /tmp/varnel-driver.XXXXXX)
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 143' INT TERM HUP

cp /bin/busybox "$work/initrd/bin/" && cp "$kernel"/lib/*.ko "$work/initrd/lib/"
install -m 755 "$here/init.sh" "$work/initrd/init" && echo $modules > "$work/initrd/modules"
(cd "$work/initrd" && find . | busybox cpio -o -H newc 2>/dev/null) > "$work/initrd.cpio"
printf 'export VARNEL_BUILD=%q ASAN_OPTIONS=%q LSAN_OPTIONS=%q UBSAN_OPTIONS=%q\ncd /run/out && exec /bin/bash %q %q\n' \
    "$build" "${ASAN_OPTIONS:-}" "${LSAN_OPTIONS:-}" "${UBSAN_OPTIONS:-}" "$here/guest.sh" "$check" > "$out/run.sh"

mkfifo "$run/qmp.in" "$run/qmp.out"
timeout -k 5 "$limit" qemu-system-x86_64 -nodefaults -no-user-config -accel tcg -cpu max -m 512 -display none \
    -no-reboot -kernel "$kernel/vmlinuz" -initrd "$work/initrd.cpio" -append "console=ttyS0 quiet panic=-1" \
    -serial "file:$work/console.log" \
    -chardev "socket,id=uart,path=$run/uart,server=on,wait=off,telnet=on" -serial chardev:uart \
    -virtfs local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap \
    -virtfs "local,path=$out,mount_tag=out,security_model=none" \
    -chardev "pipe,id=qmp,path=$run/qmp" -mon chardev=qmp,mode=control -device qemu-xhci,id=xhci \
    -chardev "socket,id=usb1,path=$run/usb1,server=on,wait=off,telnet=on" -device usb-serial,id=probe,chardev=usb1 \
    > "$work/qemu.log" 2>&1 &
qemu=$!
exec 7<>"$run/qmp.in"
cat "$run/qmp.out" > "$work/qmp.log" &
pids+=("$qemu" $!)
qmp() { printf '%s\n' "$1" >&7; }
qmp '{"execute":"qmp_capabilities"}'

# The meter on a line: connects to QEMU's socket; done once it said so. Its pid: ${pids[-1]}.
meter() { # NAME SOCKET ARGS...
    local name=$1 sock=$2
    await '[ -S "$sock" ]'
    "$build/tools/meter-sim/varnel-meter-sim" --socket "$sock" --report "$out/$name-report.jsonl" "${@:3}" \
        > "$work/$name.out" 2> "$work/$name.log" &
    pids+=($!)
    await '[ -s "$work/$name.out" ]' || { echo "rig: no meter on $sock: $(cat "$work/$name.log")" >&2; return 1; }
}
meter uart "$run/uart"
uart=${pids[-1]}
# The USB meter answers at 2400 Bd, so that an unplug lands in the middle of its block.
slow=(--identification '/VAR3\2VARNEL-SIM')
[ "$check" = unplug ] && meter usb1 "$run/usb1" "${slow[@]}" && usb=${pids[-1]}

# What the guest asks of the host: it writes a request file and waits until it is gone.
n=1
while kill -0 "$qemu" 2>/dev/null; do
    sleep 0.1
    [ -e "$out/request" ] || continue
    case $(cat "$out/request") in
    break) kill -USR1 "$uart" ;;
    unplug)
        qmp '{"execute":"device_del","arguments":{"id":"probe"}}'
        await 'grep -q DEVICE_DELETED "$work/qmp.log"' || true
        # The meter's line goes with the probe: nothing it sent since may wait in the socket.
        kill "$usb" 2>/dev/null || true ;;
    plug)
        n=$((n + 1))
        qmp "{\"execute\":\"chardev-add\",\"arguments\":{\"id\":\"usb$n\",\"backend\":{\"type\":\"socket\",\"data\":{\"addr\":{\"type\":\"unix\",\"data\":{\"path\":\"$run/usb$n\"}},\"server\":true,\"wait\":false,\"telnet\":true}}}}"
        meter "usb$n" "$run/usb$n" "${slow[@]}" && usb=${pids[-1]}
        qmp "{\"execute\":\"device_add\",\"arguments\":{\"driver\":\"usb-serial\",\"id\":\"probe\",\"chardev\":\"usb$n\",\"bus\":\"xhci.0\"}}" ;;
    esac
    rm -f "$out/request"
done
wait "$qemu" && qemu_rc=0 || qemu_rc=$?
cat "$out/guest.log" 2>/dev/null || true
[ "$(cat "$out/rc" 2>/dev/null)" = 0 ] && exit 0
echo "rig: the guest's check '$check' failed or did not finish (QEMU's status $qemu_rc, 124: over $limit s); its console:"
tail -n 30 "$work/console.log" "$work/qemu.log"
# 134, 139: QEMU aborted or crashed (timeout passes its signal on)
case $qemu_rc in 134 | 139) [ "$VARNEL_RIG_TRY" = 1 ] && exit 75 ;; esac
exit 1
