#!/usr/bin/env bash
# Imaging throughput of `keltra image` against `dd bs=64K` on the same source in the same run:
# SOURCE (a block device or an image file) is copied ROUNDS times by each, alternately, into
# fresh files under WORKDIR; the best time of each is compared.
set -euo pipefail
keltra=${1:?usage: disk_image_vs_dd.sh KELTRA SOURCE WORKDIR [ROUNDS]}
source=${2:?usage: disk_image_vs_dd.sh KELTRA SOURCE WORKDIR [ROUNDS]}
work=${3:?usage: disk_image_vs_dd.sh KELTRA SOURCE WORKDIR [ROUNDS]}
rounds=${4:-7}

bytes=$(blockdev --getsize64 "$source" 2>/dev/null || stat -c %s "$source")
cat "$source" > /dev/null  # into the page cache for both sides

now() { date +%s.%N; }
run_dd() { dd if="$source" of="$work/dd.img" bs=64K status=none; }
run_keltra() { "$keltra" image "$source" "$work/keltra.img" > /dev/null; }
# Times one copy into a fresh file, with no dirty pages of an earlier copy left to write back.
timed() {
    rm -f "$work/dd.img" "$work/keltra.img"
    sync
    local start end
    start=$(now)
    "$1"
    end=$(now)
    python3 -c "print($end - $start)"
}
best_dd=999999
best_keltra=999999
for round in $(seq "$rounds"); do
    # Alternate which goes first, so that neither always meets the other's after-effects.
    if [ $((round % 2)) -eq 1 ]; then
        t_dd=$(timed run_dd); t_keltra=$(timed run_keltra)
    else
        t_keltra=$(timed run_keltra); t_dd=$(timed run_dd)
    fi
    best_dd=$(python3 -c "print(min($best_dd, $t_dd))")
    best_keltra=$(python3 -c "print(min($best_keltra, $t_keltra))")
done
run_keltra
cmp -s "$source" "$work/keltra.img" || { echo "keltra image differs from $source" >&2; exit 1; }
rm -f "$work/keltra.img"
python3 - "$bytes" "$best_dd" "$best_keltra" <<'PY'
import sys
size, dd, keltra = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
mib = size / 1048576
print(f"dd bs=64K:    {mib / dd:8.0f} MiB/s (best of the rounds)")
print(f"keltra image: {mib / keltra:8.0f} MiB/s")
print(f"keltra / dd:  {dd / keltra * 100:8.1f} %")
PY
