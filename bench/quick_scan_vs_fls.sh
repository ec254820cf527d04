#!/usr/bin/env bash
# The quick scans of `keltra scan --json` against `fls -rd` on the same volumes in the same run:
# wall and processor time (medians of three, page cache warm), read calls (strace -c) and peak
# resident memory.
# usage: quick_scan_vs_fls.sh KELTRA NTFS_IMAGE FAT_IMAGE WORK_DIR
# With KELTRA_BASELINE set to an earlier build of keltra, its read calls on the same volumes are
# counted too, and fewer than a hundredth of them are required.
# Fails when quick NTFS does not take a fifth of the processor time fls takes, quick FAT a tenth,
# or when `keltra scan --json` needs 32 MiB or more at 100,000 entries, or more than twice that
# at ten times as many files (synthetic FAT32 volumes written by make_fat_synthetic_image.py).
set -euo pipefail
keltra=${1:?usage: quick_scan_vs_fls.sh KELTRA NTFS_IMAGE FAT_IMAGE WORK_DIR}
ntfs=${2:?}
fat=${3:?}
work=${4:?}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
failed=0

# Median wall time and median processor time (user + system) in seconds of three runs of a
# command (output thrown away), as "wall,cpu".
median_seconds() {
    python3 - "$@" <<'PY'
import resource, subprocess, sys, time
walls, cpus = [], []
for _ in range(3):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    walls.append(time.perf_counter() - start)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpus.append(after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime)
print(f"{sorted(walls)[1]:.3f},{sorted(cpus)[1]:.3f}")
PY
}

# Read calls (read, pread64, readv, preadv) a command makes, from strace -c.
read_calls() {
    strace -f -c -e trace=read,pread64,readv,preadv -o "$work/strace.txt" "$@" >/dev/null 2>&1
    awk '$NF ~ /^(read|pread64|readv|preadv)$/ { n += $4 } END { print n + 0 }' "$work/strace.txt"
}

peak_kib() {
    /usr/bin/time -f %M -o "$work/time.txt" "$@" >/dev/null 2>&1
    tail -n 1 "$work/time.txt"
}

compare() {  # name image required-ratio
    local name=$1 image=$2 ratio=$3
    cat "$image" >/dev/null
    local k f kr fr
    k=$(median_seconds "$keltra" scan --json "$image")
    f=$(median_seconds fls -rd "$image")
    kr=$(read_calls "$keltra" scan --json "$image")
    fr=$(read_calls fls -rd "$image")
    local entries br=0
    entries=$("$keltra" scan --json "$image" 2>/dev/null | wc -l)
    [ -n "${KELTRA_BASELINE:-}" ] && br=$(read_calls "$KELTRA_BASELINE" scan --json "$image")
    python3 - "$name" "$k" "$f" "$kr" "$fr" "$ratio" "$entries" "$br" <<'PY' || failed=1
import sys
name = sys.argv[1]
(k, kc), (f, fc) = ([float(v) for v in a.split(",")] for a in sys.argv[2:4])
kr, fr, ratio, entries, br = int(sys.argv[4]), int(sys.argv[5]), float(sys.argv[6]), \
    int(sys.argv[7]), int(sys.argv[8])
# Compared by processor time, which a machine busy with other work does not distort.
speed = fc / kc if kc > 0 else float("inf")
print(f"{name}: keltra scan --json {k * 1000:.0f} ms ({kc * 1000:.0f} ms processor; {entries} "
      f"items, {kr} read calls), fls -rd {f * 1000:.0f} ms ({fc * 1000:.0f} ms processor; {fr} "
      f"read calls): {speed:.1f} x in processor time (needs {ratio:.0f} x), {f / k:.1f} x in "
      f"wall time")
ok = speed >= ratio
if br:
    print(f"  read calls of the baseline build: {br} ({br / max(kr, 1):.0f} x as many)")
    ok = ok and kr * 100 <= br
sys.exit(0 if ok else 1)
PY
}

echo "== quick scans against fls -rd (medians of three, page cache warm)"
compare "NTFS, 100,000 MFT records" "$ntfs" 5
compare "FAT32, 100,000 entries" "$fat" 10

echo "== peak resident memory of keltra scan --json"
nk=$(peak_kib "$keltra" scan --json "$ntfs")
fk=$(peak_kib "$keltra" scan --json "$fat")
python3 "$here/make_fat_synthetic_image.py" "$work/syn100k.img" 400 250
python3 "$here/make_fat_synthetic_image.py" "$work/syn1m.img" 400 2500
sk=$(peak_kib "$keltra" scan --json "$work/syn100k.img")
bk=$(peak_kib "$keltra" scan --json "$work/syn1m.img")
rm -f "$work/syn100k.img" "$work/syn1m.img"
python3 - "$nk" "$fk" "$sk" "$bk" <<'PY' || failed=1
import sys
nk, fk, sk, bk = (int(v) for v in sys.argv[1:])
print(f"NTFS 100,000 records: {nk / 1024:.1f} MiB; FAT32 100,000 entries: {fk / 1024:.1f} MiB")
print(f"synthetic FAT32, 100,000 deleted files: {sk / 1024:.1f} MiB; "
      f"1,000,000: {bk / 1024:.1f} MiB ({bk / sk:.2f} x)")
ok = max(nk, fk, sk) < 32 * 1024 and bk <= 2 * sk
sys.exit(0 if ok else 1)
PY
exit $failed
