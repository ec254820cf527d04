#!/usr/bin/env bash
# Runs every benchmark and the peer commands they are compared with, in one go, so that the
# ratios are measured on the same machine at the same time.
set -euo pipefail
build=${1:?usage: run.sh BUILD_DIR FIXTURE_DIR}
fixtures=${2:?usage: run.sh BUILD_DIR FIXTURE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/../tests/fixtures/make_all.sh" "$fixtures"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 512 MiB image of random bytes for the reading benchmarks.
image="$work/random.img"
head -c $((512 * 1024 * 1024)) /dev/urandom > "$image"
cat "$image" > /dev/null  # into the page cache for both sides

echo "== cat of the same image (page cache)"
start=$(date +%s.%N); cat "$image" > /dev/null; end=$(date +%s.%N)
python3 -c "print(f'cat: {512/($end-$start):.0f} MiB/s')"

# An NTFS volume with over 100,000 MFT records for the quick scan, made once (it takes minutes).
ntfs_image="$fixtures/ntfs_bench.img"
[ -f "$ntfs_image" ] || bash "$here/make_ntfs_bench_image.sh" "$ntfs_image"
cat "$ntfs_image" > /dev/null
echo "== fls -rd of the same NTFS volume (The Sleuth Kit)"
start=$(date +%s.%N); fls -rd "$ntfs_image" > /dev/null; end=$(date +%s.%N)
python3 -c "print(f'fls -rd: {($end-$start)*1000:.0f} ms')"

# A FAT32 volume with 100,000 entries, made once.
fat="$fixtures/fat_bench.img"
[ -f "$fat" ] || bash "$here/make_fat_bench_image.sh" "$fat"
cat "$fat" > /dev/null
echo "== fls -rd of the 100,000-entry FAT32 volume (page cache)"
python3 - "$fat" <<'PY'
import subprocess, sys, time
runs = []
for _ in range(5):
    start = time.perf_counter()
    out = subprocess.run(["fls", "-rd", sys.argv[1]], capture_output=True, check=True).stdout
    runs.append(time.perf_counter() - start)
lines = out.count(b"\n")
print(f"fls -rd: {min(runs) * 1000:.0f} ms (best of 5), {lines} deleted entries")
PY

for b in "$build"/bench/*_bench; do
    echo "== $(basename "$b")"
    KELTRA_BENCH_IMAGE="$image" KELTRA_BENCH_NTFS_IMAGE="$ntfs_image" KELTRA_BENCH_FAT_IMAGE="$fat" \
        KELTRA_FIXTURE_DIR="$fixtures" "$b" --benchmark_min_time=1
done

# The desktop program's results page with 100,000 and 1,000,000 found files in a synthetic store.
if [ -x "$build/results_page_bench" ]; then
    for n in 100000 1000000; do
        echo "== results page, $n found files"
        QT_QPA_PLATFORM=offscreen "$build/results_page_bench" "$n"
    done
fi
# The results by folder: 100,000 found files in 5,000 folders of every size.
if [ -x "$build/folder_view_bench" ]; then
    echo "== folder view, 100000 found files"
    QT_QPA_PLATFORM=offscreen "$build/folder_view_bench" 100000 5000
fi
# Thumbnails of 10,000 small JPEGs, asked a screenful at a time as a grid scrolls.
if [ -x "$build/thumbnails_bench" ]; then
    echo "== thumbnails, 10000 JPEGs"
    QT_QPA_PLATFORM=offscreen "$build/thumbnails_bench" 10000 60
fi
# The main window's thumbnail grid over a card of 10,000 JPEGs, paged to the end (the list
# paged first in the same run, for what the machine's load costs the event loop).
if [ -x "$build/thumbnail_grid_bench" ]; then
    echo "== thumbnail grid, 10000 JPEGs on a card"
    QT_QPA_PLATFORM=offscreen "$build/thumbnail_grid_bench" 10000
fi

quick=0
bash "$here/quick_scan_vs_fls.sh" "$build/keltra" "$ntfs_image" "$fat" "$work/quick" || quick=$?
# A 100,000-entry exFAT volume, made once through exfat-fuse (it takes minutes).
bash "$here/exfat_scan_vs_fls.sh" "$build/keltra" "$fixtures/exfat_bench.img" "$work/exfat" ||
    quick=$?

echo "== disk imaging: keltra image against dd bs=64K"
if loop=$(losetup --find --show --read-only "$image" 2>/dev/null); then
    rc=0
    bash "$here/disk_image_vs_dd.sh" "$build/keltra" "$loop" "$work" || rc=$?
    losetup -d "$loop"
    [ "$rc" -eq 0 ]
else
    echo "(no loop devices here: the image file itself is the source)"
    bash "$here/disk_image_vs_dd.sh" "$build/keltra" "$image" "$work"
fi
echo "== rescue copies of a failing device: keltra image --skip-bad against GNU ddrescue"
bash "$here/rescue_vs_ddrescue.sh" "$build/keltra" "$work/rescue"
bash "$here/rescue_vs_ddrescue.sh" "$build/keltra" "$work/rescue" 3 1ms
echo "== a whole-source pass over a failing device: reads asked of its bad areas"
bash "$here/pass_over_failing_device.sh" "$build/keltra" "$work/pass"
[ "$quick" -eq 0 ]
