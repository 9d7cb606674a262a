#!/bin/sh
# Runs a test program with small tmpfs drives (8 MB each) as drive letters of the Wine prefix:
# real disks that fill up (GetDiskFreeSpaceExW reports their size, writing past it fails with
# ERROR_DISK_FULL), each its own volume. Mounting needs root; without it the test fails, since
# it could not show what it is for. The program finds the drives in MIRU_SMALL_DRIVES ("M: N:")
# and the first of them in MIRU_SMALL_DRIVE.
# Usage: small_drive.sh <prefix> <wine-run.sh> <program.exe> <mount folder> [drive letter ...] (default m)
prefix=$1 runner=$2 program=$3 mnt=$4
shift 4
[ $# -eq 0 ] && set -- m
mounted="" drives=""
unmount() {
    for letter in $mounted; do
        rm -f "$prefix/dosdevices/$letter:"
        umount "$mnt/$letter"
    done
}
for letter in "$@"; do
    mkdir -p "$mnt/$letter"
    if [ "$(id -u)" != 0 ] || ! mount -t tmpfs -o size=8m tmpfs "$mnt/$letter"; then
        echo "FAIL: small_drive.sh could not mount an 8 MB tmpfs at $mnt/$letter (needs root);" \
             "$(basename "$program") needs it as drive $letter:" >&2
        unmount
        exit 1
    fi
    mounted="$mounted $letter"
    ln -sfn "$mnt/$letter" "$prefix/dosdevices/$letter:"
    drives="$drives $(echo "$letter" | tr a-z A-Z):"
done
export MIRU_SMALL_DRIVES="${drives# }"
export MIRU_SMALL_DRIVE="${MIRU_SMALL_DRIVES%% *}"
"$runner" "$prefix" "$program"
status=$?
unmount
exit $status
