#!/usr/bin/env bash
# The deep scan of an image read from a slow device against `cat` reading the same device, in
# the same run: the image is served by nbdkit through nbdfuse with its reads limited to RATE
# bits per second (nbdkit's rate filter: a card reader, an old USB disk), and the device's pages
# are dropped from the page cache before every run, so that each run reads from the device.
# Then the quick scan of the device, cold too: wall time, read calls and bytes read.
# Whole-process figures, medians of ROUNDS (deep_scan_vs_cat.sh); with BASELINE (an earlier
# build) measured alongside.
# usage: deep_scan_slow_device.sh KELTRA WORK_DIR IMAGE [RATE] (env: BASELINE, ROUNDS=3, DEEP=0
# for the quick scan alone)
set -euo pipefail
usage="usage: deep_scan_slow_device.sh KELTRA WORK_DIR IMAGE [RATE]"
keltra=${1:?$usage}
work=${2:?$usage}
image=${3:?$usage}
rate=${4:-400M}
here=$(cd "$(dirname "$0")" && pwd)
[ -e /dev/fuse ] || { echo "(no /dev/fuse here: no slow device, no benchmark)"; exit 0; }
command -v nbdfuse > /dev/null || { echo "nbdfuse is missing (apt-get install libnbd-bin)" >&2; exit 1; }
mkdir -p "$work/mnt"
device="$work/mnt/disk"
nbdfuse -r "$device" [ nbdkit --exit-with-parent --filter=rate file file="$image" rate="$rate" ] \
    2> /dev/null &
fuse=$!
stop() { fusermount3 -u -z "$work/mnt" 2> /dev/null || true; wait "$fuse" 2> /dev/null || true; }
trap stop EXIT
for _ in $(seq 100); do [ -s "$device" ] && break; sleep 0.1; done
[ -s "$device" ] || { echo "the device did not come up" >&2; exit 1; }
echo "== $(basename "$image") through a device limited to $rate bit/s"
[ "${DEEP:-1}" = 0 ] || COLD=1 "$here/deep_scan_vs_cat.sh" "$keltra" "$work/deep" "$device"

drop() {
    python3 -c 'import os, sys; fd = os.open(sys.argv[1], os.O_RDONLY)
os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)' "$device"
}
# quick NAME BINARY: the quick scan, cold: wall seconds, read calls and bytes (strace).
quick() {
    drop
    rm -rf "$work/xdg"
    local start end
    start=$(date +%s.%N)
    XDG_DATA_HOME="$work/xdg" XDG_CONFIG_HOME="$work/xdg" \
        strace -f -qq -e trace=read,pread64,readv,preadv -o "$work/quick.strace" \
        "$2" scan --json "$device" > /dev/null 2>&1 || true
    end=$(date +%s.%N)
    awk -F'= ' -v name="$1" -v s="$start" -v e="$end" \
        '/= [0-9]+$/ { n++; b += $NF } END { printf "  quick %-9s wall %.2f s (traced), %d read calls, %.1f MiB read\n", name, e - s, n, b / 1048576 }' \
        "$work/quick.strace"
    rm -rf "$work/quick.strace" "$work/xdg"
}
quick keltra "$keltra"
[ -n "${BASELINE:-}" ] && quick baseline "$BASELINE"
exit 0
