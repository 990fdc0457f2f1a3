#!/bin/busybox sh
# The guest's init: loads the modules for the shared folders, mounts the
# host's root read-only and the results folder writable at its own path in it,
# runs the job on the host's root, and powers the guest off whatever happens.
b=/bin/busybox
$b mount -t proc proc /proc
$b mount -t devtmpfs dev /dev
for m in $($b cat /modules); do
    $b insmod /lib/$m.ko || echo "init: module $m did not load"
done
o=trans=virtio,version=9p2000.L,msize=262144
if $b mount -t 9p -o $o,ro hostroot /host && $b mount -t 9p -o $o out /out; then
    . /out/job # sets out, the results folder's path on the host
    h=/host
    $b mount -o bind /out "$h$out"
    $b mount -t proc proc $h/proc
    $b mount -t sysfs sys $h/sys
    $b mount -t devtmpfs dev $h/dev
    $b mkdir -p $h/dev/pts $h/dev/shm
    $b mount -t devpts devpts $h/dev/pts
    $b mount -t tmpfs shm $h/dev/shm
    # The serial layer's lock files: the host's own would claim devices here.
    $b mount -t tmpfs run $h/run && $b mkdir $h/run/lock
    $b chroot $h /bin/sh "$out/run.sh" > /out/guest.log 2>&1
    echo $? > /out/rc
fi
$b sync
$b poweroff -f
