#!/usr/bin/env bash
# The deep scan of an image read from a slow device against `cat` reading the same device, in
# the same run: the image is served by nbdkit through nbdfuse with its reads limited to RATE
# bits per second (nbdkit's rate filter: a card reader, an old USB disk), and the device's pages
# are dropped from the page cache before every run, so that each run reads from the device.
# Then the quick scan, each run on a device mounted for it (cold): wall time and the
# requests and bytes the device served; against reading the volume's metadata from the device.
# Whole-process figures, medians of ROUNDS (deep_scan_vs_cat.sh); with BASELINE (an earlier
# build) measured alongside.
# usage: deep_scan_slow_device.sh KELTRA WORK_DIR IMAGE [RATE] (env: BASELINE, ROUNDS=3, DEEP=0
# for the quick scan alone, QUICK_ROUNDS=1, TRACE=1)
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

# fresh NAME COMMAND...: the command run against a device mounted for it alone (nothing of it in
# the page cache), timed; prints wall seconds and the requests and bytes the device served
# (nbdkit's stats filter: what a disk would be asked for, read-ahead included); with TRACE=1 also
# the read calls and bytes the command made (strace, which slows every call).
fresh() {
    local name=$1
    shift
    mkdir -p "$work/fresh"
    rm -f "$work/stats.txt"
    nbdfuse -r "$work/fresh/disk" [ nbdkit --exit-with-parent --filter=stats --filter=rate file \
        file="$image" rate="$rate" statsfile="$work/stats.txt" ] 2> /dev/null &
    local pid=$!
    for _ in $(seq 100); do [ -s "$work/fresh/disk" ] && break; sleep 0.1; done
    rm -rf "$work/xdg"
    local start end
    start=$(date +%s.%N)
    local trace=()
    [ "${TRACE:-0}" = 1 ] &&
        trace=(strace -f -qq -e trace=read,pread64,readv,preadv -o "$work/quick.strace")
    : > "$work/quick.strace"
    XDG_DATA_HOME="$work/xdg" XDG_CONFIG_HOME="$work/xdg" \
        "${trace[@]}" "$@" "$work/fresh/disk" > /dev/null 2>&1 || true
    end=$(date +%s.%N)
    fusermount3 -u -z "$work/fresh" 2> /dev/null || true
    wait "$pid" 2> /dev/null || true
    for _ in $(seq 50); do [ -s "$work/stats.txt" ] && break; sleep 0.1; done
    local device
    device=$(awk '/^read:/ { printf "%d requests, %s %s", $2, $6, $7 }' "$work/stats.txt")
    awk -F'= ' -v name="$name" -v s="$start" -v e="$end" -v device="$device" \
        '/= [0-9]+$/ { n++; b += $NF } END { printf "  %-16s wall %.2f s, device: %s", name, e - s, device; if (n) printf "; traced: %d read calls, %.1f MiB read", n, b / 1048576; printf "\n" }' \
        "$work/quick.strace"
    rm -rf "$work/quick.strace" "$work/xdg" "$work/stats.txt"
}
for _ in $(seq "${QUICK_ROUNDS:-1}"); do
    fresh "quick keltra" "$keltra" scan --json
    [ -n "${BASELINE:-}" ] && fresh "quick baseline" "$BASELINE" scan --json
    # What any reader of the tree must read (metadata_of_volume.py reading the device itself).
    python3 "$here/metadata_of_volume.py" --kind "$image" > /dev/null 2>&1 &&
        fresh "metadata" python3 "$here/metadata_of_volume.py" --to-null
done
exit 0
