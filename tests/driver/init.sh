#!/bin/busybox sh
# The guest's init: the host's root read-only, the results folder writable on /run/out (on a tmpfs
# of the guest's own, so that no folder of the host's is hidden), the job run there, then power off.
b=/bin/busybox
$b mount -t proc proc /proc
$b mount -t devtmpfs dev /dev
for m in $($b cat /modules); do
    $b insmod /lib/$m.ko || echo "init: module $m did not load"
done
o=trans=virtio,version=9p2000.L,msize=262144
# The serial layer's lock files: the host's own would claim devices here.
if $b mount -t 9p -o $o,ro hostroot /host && $b mount -t tmpfs run /host/run && $b mkdir /host/run/lock /host/run/out &&
    $b mount -t 9p -o $o out /host/run/out; then
    $b mount -t proc proc /host/proc
    $b mount -t sysfs sys /host/sys
    $b mount -t devtmpfs dev /host/dev
    $b mkdir -p /host/dev/pts /host/dev/shm
    $b mount -t devpts devpts /host/dev/pts
    $b mount -t tmpfs shm /host/dev/shm
    $b chroot /host /bin/sh /run/out/run.sh > /host/run/out/guest.log 2>&1
    echo $? > /host/run/out/rc
fi
$b sync
$b poweroff -f
