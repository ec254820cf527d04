#!/usr/bin/env bash
# Makes OUT: a 128 MiB FAT32 volume (mkfs.vfat, written through mtools) with 100,000 files in
# 100 folders (8.3 names, which mtools writes quickly), one in ten holding a few bytes; then one
# in ten of them deleted.
set -euo pipefail
out=${1:?usage: make_fat_bench_image.sh OUT}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/fattree"
python3 - "$work/fattree" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(100):
    folder = os.path.join(root, f"D{d:03d}")
    os.mkdir(folder)
    for f in range(1000):
        with open(os.path.join(folder, f"P{f:04d}.JPG"), "wb") as out:
            if f % 10 == 0:
                out.write(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(20))
PY
mkfs.vfat -C -F 32 "$work/fat.img" 262144 >/dev/null
MTOOLS_SKIP_CHECK=1 mcopy -s -i "$work/fat.img" "$work/fattree"/* ::/
for d in $(seq -f %03g 0 99); do MTOOLS_SKIP_CHECK=1 mdel -i "$work/fat.img" "::/D$d/P*7.JPG"; done
mv "$work/fat.img" "$out"
