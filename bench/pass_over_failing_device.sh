#!/usr/bin/env bash
# A whole-source pass (`keltra scan --carve-only`) over a failing device: how many reads the
# device is asked for in its bad areas, and the time, for this build and for another one (for
# example the main branch's) in the same run. On a dying disk each failed read can cost seconds
# of the drive's own retries, so the failed reads are the figure that matters.
# The device: 256 MiB of random bytes with a 1 MiB bad stretch, a 64 KiB one and three single
# bad sectors, served by nbdkit (ddrescue filter, every read delayed by DELAY) through nbdfuse.
set -euo pipefail
keltra=${1:?usage: pass_over_failing_device.sh KELTRA WORKDIR [OTHER_KELTRA] [DELAY]}
work=${2:?usage: pass_over_failing_device.sh KELTRA WORKDIR [OTHER_KELTRA] [DELAY]}
other=${3:-}
delay=${4:-1ms}
[ -e /dev/fuse ] || { echo "(no /dev/fuse here: no failing device, no benchmark)"; exit 0; }
mkdir -p "$work/mnt"
source="$work/source.img"
[ -f "$source" ] || head -c $((256 << 20)) /dev/urandom > "$source"
cat > "$work/bad.map" <<'MAP'
0x00000000  +
0x00000000  0x0007D000  +
0x0007D000  0x00000200  -
0x0007D200  0x02165E00  +
0x021E3000  0x00000200  -
0x021E3200  0x00AECE00  +
0x02CD0000  0x00100000  -
0x02DD0000  0x05000000  +
0x07DD0000  0x00010000  -
0x07DE0000  0x081BEA00  +
0x0FF9EA00  0x00000200  -
0x0FF9EC00  0x00061400  +
MAP

nbdfuse -r "$work/mnt/disk" [ nbdkit --exit-with-parent --filter=log --filter=delay \
    --filter=ddrescue file file="$source" ddrescue-mapfile="$work/bad.map" delay-read="$delay" \
    logfile="$work/nbd.log" ] 2>/dev/null &
fuse=$!
stop() { fusermount3 -u -z "$work/mnt" 2>/dev/null || true; wait "$fuse" 2>/dev/null || true; }
trap stop EXIT
for _ in $(seq 100); do [ -s "$work/mnt/disk" ] && break; sleep 0.1; done

# pass NAME BINARY: one pass with a fresh scan history; prints name, seconds, failed reads and
# the unreadable sectors the program told.
pass() {
    rm -rf "$work/xdg"
    : > "$work/nbd.log"
    local start end told
    start=$(date +%s.%N)
    told=$(XDG_DATA_HOME="$work/xdg" "$2" scan "$work/mnt/disk" --carve-only 2>&1 >/dev/null |
        sed -n 's/.* \([0-9]*\) sectors\? of .* could not be read.*/\1/p')
    end=$(date +%s.%N)
    local failed
    failed=$(grep -c 'Read.*return=-1' "$work/nbd.log" || true)
    python3 -c "print(f'{\"$1\":<8} {$end - $start:7.2f} s  {$failed:6d} failed reads  ${told:-0} sectors told unreadable')"
    echo "$end - $start" | python3 -c "import sys; print(eval(sys.stdin.read()))" > "$work/$1.seconds"
    echo "$failed" > "$work/$1.failed"
}
echo "extra delay per read: $delay"
pass this "$keltra"
if [ -n "$other" ]; then
    pass other "$other"
    python3 - "$work" <<'PY'
import sys
w = sys.argv[1]
t = [float(open(f"{w}/{n}.seconds").read()) for n in ("this", "other")]
f = [int(open(f"{w}/{n}.failed").read()) for n in ("this", "other")]
print(f"this / other: {t[0] / t[1] * 100:.1f} % of the time, {f[0]} / {f[1]} failed reads")
PY
fi
