#!/bin/sh
# Runs a test program with a small tmpfs as drive M: of the Wine prefix, a real disk that
# fills up (GetDiskFreeSpaceExW reports its size, writing past it fails with ERROR_DISK_FULL).
# Mounting needs root; without it the program runs without the drive and its tests skip.
# Usage: small_drive.sh <prefix> <wine-run.sh> <program.exe> <mount folder> [drive letter, default m]
prefix=$1 runner=$2 program=$3 mnt=$4 letter=${5:-m}
mounted=0
mkdir -p "$mnt"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=8m tmpfs "$mnt" 2>/dev/null; then
    mounted=1
    ln -sfn "$mnt" "$prefix/dosdevices/$letter:"
    export MIRU_SMALL_DRIVE="$(echo "$letter" | tr a-z A-Z):"
fi
"$runner" "$prefix" "$program"
status=$?
if [ $mounted = 1 ]; then
    rm -f "$prefix/dosdevices/$letter:"
    umount "$mnt"
fi
exit $status
