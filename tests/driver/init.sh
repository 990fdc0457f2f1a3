#!/bin/busybox sh
# The guest's init: loads the modules for the shared folders, mounts the
# host's root read-only with the results folder writable on its /tmp, runs
# the job there, and powers the guest off whatever happens.
b=/bin/busybox
$b mount -t proc proc /proc
$b mount -t devtmpfs dev /dev
for m in $($b cat /modules); do
    $b insmod /lib/$m.ko || echo "init: module $m did not load"
done
o=trans=virtio,version=9p2000.L,msize=262144
h=/host
if $b mount -t 9p -o $o,ro hostroot $h && $b mount -t 9p -o $o out $h/tmp; then
    $b mount -t proc proc $h/proc
    $b mount -t sysfs sys $h/sys
    $b mount -t devtmpfs dev $h/dev
    $b mkdir -p $h/dev/pts $h/dev/shm
    $b mount -t devpts devpts $h/dev/pts
    $b mount -t tmpfs shm $h/dev/shm
    # The serial layer's lock files: the host's own would claim devices here.
    $b mount -t tmpfs run $h/run && $b mkdir $h/run/lock
    $b chroot $h /bin/sh /tmp/run.sh > $h/tmp/guest.log 2>&1
    echo $? > $h/tmp/rc
fi
$b sync
$b poweroff -f
