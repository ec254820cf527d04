#!/usr/bin/env bash
# Rescue copies of a failing device: `keltra image --skip-bad` against GNU ddrescue (-d, -r1) on
# the same device in the same run. The device is a 256 MiB image served by nbdkit with bad areas
# (single sectors, a short run, a 1 MiB stretch) through its ddrescue filter and shown as a file
# by nbdfuse. Each tool copies it ROUNDS times, alternately, into fresh files; the medians are
# compared, and the last copies of both must be equal, image and map.
# DELAY: "1ms" makes every read of the device that much slower (nbdkit's delay filter);
# "area:0.05" makes only the reads that touch 16 MiB from 128 MiB on 0.05 s slower (a worn
# area), served by a shell-script plugin instead of the file plugin (every read then costs a
# process of its own, for both tools alike).
set -euo pipefail
keltra=${1:?usage: rescue_vs_ddrescue.sh KELTRA WORKDIR [ROUNDS] [DELAY]}
work=${2:?usage: rescue_vs_ddrescue.sh KELTRA WORKDIR [ROUNDS] [DELAY]}
rounds=${3:-5}
delay=${4:-}
[ -e /dev/fuse ] || { echo "(no /dev/fuse here: no failing device, no rescue benchmark)"; exit 0; }
mkdir -p "$work/mnt"
source="$work/source.img"
[ -f "$source" ] || head -c $((256 << 20)) /dev/urandom > "$source"
cat > "$work/bad.map" <<'MAP'
0x00000000  +
0x00000000  0x0007D000  +
0x0007D000  0x00000200  -
0x0007D200  0x02165E00  +
0x021E3000  0x00000600  -
0x021E3600  0x00AECA00  +
0x02CD0000  0x00100000  -
0x02DD0000  0x0D1CEA00  +
0x0FF9EA00  0x00000200  -
0x0FF9EC00  0x00061400  +
MAP

filters=(--filter=ddrescue)
plugin=(file file="$source")
case "$delay" in
"") ;;
area:*)
    cat > "$work/slow_area.sh" <<'PLUGIN'
#!/bin/bash
# nbdkit sh plugin: the file $SOURCE; reads that touch [$SLOW_START, $SLOW_END) take
# $SLOW_SECONDS longer.
case "$1" in
get_size) stat -L -c %s "$SOURCE" ;;
pread)
    if [ "$4" -lt "$SLOW_END" ] && [ $(($4 + $3)) -gt "$SLOW_START" ]; then sleep "$SLOW_SECONDS"; fi
    dd if="$SOURCE" iflag=skip_bytes,count_bytes skip="$4" count="$3" status=none ;;
can_write) exit 3 ;;
thread_model) echo parallel ;;
*) exit 2 ;;
esac
PLUGIN
    chmod +x "$work/slow_area.sh"
    export SOURCE="$source" SLOW_START=$((128 << 20)) SLOW_END=$((144 << 20))
    export SLOW_SECONDS=${delay#area:}
    plugin=(sh "$work/slow_area.sh")
    ;;
*) filters=(--filter=delay --filter=ddrescue); plugin+=("delay-read=$delay") ;;
esac
nbdfuse -r "$work/mnt/disk" [ nbdkit --exit-with-parent "${filters[@]}" "${plugin[@]}" \
    ddrescue-mapfile="$work/bad.map" ] &
fuse=$!
stop() { fusermount3 -u -z "$work/mnt" 2>/dev/null || true; wait "$fuse" 2>/dev/null || true; }
trap stop EXIT
for _ in $(seq 100); do [ -s "$work/mnt/disk" ] && break; sleep 0.1; done
device="$work/mnt/disk"

now() { date +%s.%N; }
run_keltra() { "$keltra" image "$device" "$work/keltra.img" --skip-bad > /dev/null || [ $? -eq 3 ]; }
run_ddrescue() { ddrescue -q -d -r1 "$device" "$work/ddrescue.img" "$work/ddrescue.img.map"; }
timed() {
    rm -f "$work/keltra.img" "$work/keltra.img.map" "$work/ddrescue.img" "$work/ddrescue.img.map"
    sync
    local start end
    start=$(now)
    "$1"
    end=$(now)
    python3 -c "print($end - $start)"
}
t_keltra=()
t_ddrescue=()
for round in $(seq "$rounds"); do
    if [ $((round % 2)) -eq 1 ]; then
        t_keltra+=("$(timed run_keltra)"); t_ddrescue+=("$(timed run_ddrescue)")
    else
        t_ddrescue+=("$(timed run_ddrescue)"); t_keltra+=("$(timed run_keltra)")
    fi
done
run_keltra
cmp -s "$work/keltra.img" "$work/ddrescue.img" || { echo "the two images differ" >&2; exit 1; }
diff <(grep -v '^#' "$work/keltra.img.map" | tail -n +2) \
    <(grep -v '^#' "$work/ddrescue.img.map" | tail -n +2) > /dev/null ||
    { echo "the two maps differ" >&2; exit 1; }
python3 - "${t_keltra[*]}" "${t_ddrescue[*]}" "${delay:-none}" <<'PY'
import statistics, sys
k = statistics.median(float(x) for x in sys.argv[1].split())
d = statistics.median(float(x) for x in sys.argv[2].split())
print(f"extra delay per read: {sys.argv[3]}")
print(f"keltra image --skip-bad: {k:7.2f} s (median, whole process)")
print(f"ddrescue -d -r1:         {d:7.2f} s")
print(f"keltra / ddrescue:       {k / d * 100:7.1f} % of the time")
PY
