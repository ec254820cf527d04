#!/usr/bin/env bash
# Makes OUT: a 256 MiB exFAT volume (mkfs.exfat) with 100,000 files in 100 folders written
# through an exfat-fuse mount of a loop device, one in ten holding a few bytes; then one in ten
# of them deleted. Takes some minutes (every file goes through FUSE).
set -euo pipefail
out=${1:?usage: make_exfat_bench_image.sh OUT}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../tests/fixtures/common.sh"
source "$here/../tests/fixtures/exfat_mount.sh"
img="$out.part"
rm -f "$img"
truncate -s 256M "$img"
mkfs.exfat -L BENCH "$img" >/dev/null
populate() {
    python3 - "$1" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(100):
    folder = os.path.join(root, f"Folder {d:03d}")
    os.mkdir(folder)
    for f in range(1000):
        with open(os.path.join(folder, f"Photo {f:04d}.jpg"), "wb") as out:
            if f % 10 == 0:
                out.write(b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + bytes(20))
    for f in range(7, 1000, 10):
        os.remove(os.path.join(folder, f"Photo {f:04d}.jpg"))
PY
}
with_exfat "$img" populate
mv "$img" "$out"
