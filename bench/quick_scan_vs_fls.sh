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

source "$here/scan_timing.sh"

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
